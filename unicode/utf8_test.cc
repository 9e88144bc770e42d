#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vk::biometric {
namespace {

#define FFFD "\xEF\xBF\xBD"

struct Row {
  std::string input;
  std::string repaired;
};

TEST(Utf8TextTest, RepairReplacesEachMaximalSubpart) {
  const std::vector<Row> rows = {
      {"", ""},
      {"plain", "plain"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"\xF0\x9F\x94\x91", "\xF0\x9F\x94\x91"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},
      // The Unicode Standard's own example (Table 3-8).
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" FFFD FFFD FFFD "b" FFFD "c" FFFD FFFD "d"},
      // Truncated sequences: one replacement for the valid prefix.
      {"\xC3", FFFD},
      {"\xE2\x82", FFFD},
      {"\xF0\x9F\x94", FFFD},
      {"\xF0\x9F\x94x", FFFD "x"},
      // Bytes that can never start a sequence.
      {"\x80", FFFD},
      {"\xBF\x80", FFFD FFFD},
      {"\xC0\xAF", FFFD FFFD},
      {"\xC1\xBF", FFFD FFFD},
      {"\xF5\x80\x80\x80", FFFD FFFD FFFD FFFD},
      {"\xFF", FFFD},
      // Overlongs, surrogates and values above U+10FFFF fail at the second byte.
      {"\xE0\x80\xAF", FFFD FFFD FFFD},
      {"\xF0\x80\x80\xAF", FFFD FFFD FFFD FFFD},
      {"\xED\xA0\x80", FFFD FFFD FFFD},
      {"\xED\xBF\xBF", FFFD FFFD FFFD},
      {"\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
      // A lead byte cut short by another lead byte.
      {"\xE2\xC3\xA9", FFFD "\xC3\xA9"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(repairUtf8(row.input), row.repaired) << ::testing::PrintToString(row.input);
    EXPECT_EQ(isWellFormedUtf8(row.input), row.input == row.repaired)
        << ::testing::PrintToString(row.input);
    EXPECT_TRUE(isWellFormedUtf8(row.repaired));
  }
}

TEST(Utf8TextTest, EmbeddedNulIsWellFormed) {
  const std::string withNul("a\0b", 3);
  EXPECT_TRUE(isWellFormedUtf8(withNul));
  EXPECT_EQ(repairUtf8(withNul), withNul);
}

TEST(Utf8TextTest, Utf16KeepsEveryCodePoint) {
  using Units = std::vector<std::uint16_t>;
  struct Utf16Row {
    std::string input;
    std::optional<Units> units;
  };
  const std::vector<Utf16Row> rows = {
      {"", Units{}},
      {"x", Units{0x78}},
      // A leading U+FEFF is a character of the name, not a byte-order mark.
      {"\xEF\xBB\xBFx", Units{0xFEFF, 0x78}},
      {"\xEF\xBB\xBF", Units{0xFEFF}},
      {"x\xEF\xBB\xBF", Units{0x78, 0xFEFF}},
      {std::string("a\0b", 3), Units{0x61, 0x00, 0x62}},
      {"\xC3\xA9", Units{0xE9}},
      {"\xE2\x82\xAC", Units{0x20AC}},
      {"\xEF\xBF\xBF", Units{0xFFFF}},
      {"\xF0\x90\x80\x80", Units{0xD800, 0xDC00}},
      {"\xF0\x9F\x94\x91", Units{0xD83D, 0xDD11}},
      {"\xF4\x8F\xBF\xBF", Units{0xDBFF, 0xDFFF}},
      // Ill-formed input gives nothing rather than a different name.
      {"\xC0\xAF", std::nullopt},
      {"\xED\xA0\x80", std::nullopt},
      {"x\xF0\x9F\x94", std::nullopt},
      {"\xF4\x90\x80\x80", std::nullopt},
  };
  for (const Utf16Row& row : rows) {
    EXPECT_EQ(utf16FromUtf8(row.input), row.units) << ::testing::PrintToString(row.input);
  }
}

}  // namespace
}  // namespace vk::biometric

#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vk {
namespace {

#define FFFD "\xEF\xBF\xBD"

struct Row {
  std::string input;
  std::string repaired;
};

// Well-formed exactly when the repair leaves the bytes as they are.
TEST(Utf8, RepairReplacesEachMaximalSubpart) {
  const std::vector<Row> rows = {
      {"", ""},
      {"plain", "plain"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"\xF0\x9F\x94\x91", "\xF0\x9F\x94\x91"},
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // U+0000 is text
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
      {"a\x80", "a" FFFD},
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
  const auto on_bytes = [](const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return is_valid_utf8(p, p + s.size());
  };
  for (const Row& row : rows) {
    const std::string shown = ::testing::PrintToString(row.input);
    EXPECT_EQ(repair_utf8(row.input), row.repaired) << shown;
    const bool well_formed = row.input == row.repaired;
    EXPECT_EQ(is_valid_utf8(row.input), well_formed) << shown;
    // Runs of 32 bytes or more take the word-at-a-time path.
    EXPECT_EQ(on_bytes(std::string(40, 'x') + row.input + std::string(9, 'y')), well_formed) << shown;
    EXPECT_TRUE(is_valid_utf8(row.repaired)) << shown;
  }
}

TEST(Utf8, CharacterLengthIsZeroWhereNoCharacterStarts) {
  struct Case {
    std::string text;
    std::size_t at;
    std::size_t length;
  };
  const Case cases[] = {
      {"a", 0, 1},
      {"\xC3\xA9", 0, 2},
      {"\xE2\x82\xACx", 0, 3},
      {"x\xF0\x9F\x94\x91", 1, 4},
      {"\xC3\xA9", 1, 0},          // a continuation byte
      {"\xC3", 0, 0},              // cut off
      {"\xE2\x82", 0, 0},
      {"\xC0\xAF", 0, 0},          // overlong
      {"\xED\xA0\x80", 0, 0},      // surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
      {"\xFF", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_character_length(c.text, c.at), c.length) << ::testing::PrintToString(c.text) << " at " << c.at;
  }
}



TEST(Utf8, Utf16KeepsEveryCodePoint) {
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
    EXPECT_EQ(utf16_from_utf8(row.input), row.units) << ::testing::PrintToString(row.input);
  }
}

}  // namespace
}  // namespace vk

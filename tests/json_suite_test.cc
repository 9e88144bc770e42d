// The public JSONTestSuite parsing corpus: y_ texts must parse, n_ texts must
// fail with a positioned error, i_ texts may go either way but must do so
// cleanly; everything that parses must be a fixed point of writing it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "native_messaging/json.h"

namespace vk {
namespace {

namespace fs = std::filesystem;

// The corpus lives outside the repository; without it there is nothing to check.
#define SKIP_WITHOUT_SUITE()                       \
  if (!fs::is_directory(VK_JSON_SUITE_DIR))        \
  GTEST_SKIP() << "JSONTestSuite not found at " VK_JSON_SUITE_DIR

struct SuiteFile {
  std::string name;
  std::string bytes;
};

std::vector<SuiteFile> load_suite(const std::string& prefix) {
  std::vector<SuiteFile> files;
  for (const auto& entry : fs::directory_iterator(VK_JSON_SUITE_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0 || entry.path().extension() != ".json") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
  }
  std::sort(files.begin(), files.end(), [](const SuiteFile& a, const SuiteFile& b) { return a.name < b.name; });
  return files;
}

// Writing, reading back and writing again changes nothing.
void expect_fixed_point(const JsonValue& value) {
  const std::string first = serialize_json(value);
  auto reparsed = parse_json(first);
  ASSERT_TRUE(reparsed.ok()) << first << " -> " << reparsed.error().display();
  EXPECT_EQ(*reparsed, value);
  EXPECT_EQ(serialize_json(*reparsed), first);
}

// The error names a byte offset within the input: its line exists and the
// column stays inside that line (or at its end).
void expect_positioned(const std::string& input, const JsonParseError& error) {
  static const std::set<std::string> messages = {
      "EOF while parsing a value", "EOF while parsing a list", "EOF while parsing an object",
      "EOF while parsing a string", "expected `:`", "expected `,` or `]`", "expected `,` or `}`",
      "expected ident", "expected value", "invalid escape", "invalid number", "number out of range",
      "invalid unicode code point", "control character (\\u0000-\\u001F) found while parsing a string",
      "key must be a string", "lone leading surrogate in hex escape", "trailing comma", "trailing characters",
      "unexpected end of hex escape", "recursion limit exceeded"};
  EXPECT_TRUE(messages.count(error.message)) << error.message;
  ASSERT_GE(error.line, 1u);
  std::size_t line_start = 0;
  for (std::uint64_t line = 1; line < error.line; ++line) {
    line_start = input.find('\n', line_start);
    ASSERT_NE(line_start, std::string::npos) << "no line " << error.line;
    ++line_start;
  }
  const std::size_t line_end = std::min(input.find('\n', line_start), input.size());
  EXPECT_LE(line_start + error.column, line_end + 1);
  EXPECT_EQ(error.display(), error.message + " at line " + std::to_string(error.line) + " column " +
                                 std::to_string(error.column));
}

TEST(JsonSuite, HasTheWholeCorpus) {
  SKIP_WITHOUT_SUITE();
  EXPECT_EQ(load_suite("y_").size(), 95u);
  EXPECT_EQ(load_suite("n_").size(), 188u);
  EXPECT_EQ(load_suite("i_").size(), 35u);
}

TEST(JsonSuite, AcceptsEveryYFile) {
  SKIP_WITHOUT_SUITE();
  for (const SuiteFile& file : load_suite("y_")) {
    SCOPED_TRACE(file.name);
    auto parsed = parse_json(file.bytes);
    ASSERT_TRUE(parsed.ok()) << parsed.error().display();
    expect_fixed_point(*parsed);
  }
}

TEST(JsonSuite, RejectsEveryNFileWithAPosition) {
  SKIP_WITHOUT_SUITE();
  for (const SuiteFile& file : load_suite("n_")) {
    SCOPED_TRACE(file.name);
    auto parsed = parse_json(file.bytes);
    ASSERT_FALSE(parsed.ok()) << serialize_json(*parsed);
    expect_positioned(file.bytes, parsed.error());
  }
}

TEST(JsonSuite, DecidesEveryIFile) {
  SKIP_WITHOUT_SUITE();
  // What the host's rules make of each implementation-defined text.
  const std::map<std::string, std::string> expected = {
      {"i_number_double_huge_neg_exp.json", "[0.0]"},
      {"i_number_huge_exp.json", "number out of range at line 1 column 17"},
      {"i_number_neg_int_huge_exp.json", "number out of range at line 1 column 9"},
      {"i_number_pos_double_huge_exp.json", "number out of range at line 1 column 10"},
      {"i_number_real_neg_overflow.json", "number out of range at line 1 column 15"},
      {"i_number_real_pos_overflow.json", "number out of range at line 1 column 14"},
      {"i_number_real_underflow.json", "[0.0]"},
      {"i_number_too_big_neg_int.json", "[-1.2312312312312312e29]"},
      {"i_number_too_big_pos_int.json", "[1e20]"},
      {"i_number_very_big_negative_int.json", "[-2.3746237467327687e47]"},
      {"i_object_key_lone_2nd_surrogate.json", "lone leading surrogate in hex escape at line 1 column 8"},
      {"i_string_1st_surrogate_but_2nd_missing.json", "unexpected end of hex escape at line 1 column 9"},
      {"i_string_1st_valid_surrogate_2nd_invalid.json", "lone leading surrogate in hex escape at line 1 column 14"},
      {"i_string_UTF-16LE_with_BOM.json", "expected value at line 1 column 1"},
      {"i_string_UTF-8_invalid_sequence.json", "invalid unicode code point at line 1 column 9"},
      {"i_string_UTF8_surrogate_U+D800.json", "invalid unicode code point at line 1 column 6"},
      {"i_string_incomplete_surrogate_and_escape_valid.json", "unexpected end of hex escape at line 1 column 10"},
      {"i_string_incomplete_surrogate_pair.json", "lone leading surrogate in hex escape at line 1 column 8"},
      {"i_string_incomplete_surrogates_escape_valid.json", "lone leading surrogate in hex escape at line 1 column 14"},
      {"i_string_invalid_lonely_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
      {"i_string_invalid_surrogate.json", "unexpected end of hex escape at line 1 column 9"},
      {"i_string_invalid_utf-8.json", "invalid unicode code point at line 1 column 4"},
      {"i_string_inverted_surrogates_U+1D11E.json", "lone leading surrogate in hex escape at line 1 column 8"},
      {"i_string_iso_latin_1.json", "invalid unicode code point at line 1 column 4"},
      {"i_string_lone_second_surrogate.json", "lone leading surrogate in hex escape at line 1 column 8"},
      {"i_string_lone_utf8_continuation_byte.json", "invalid unicode code point at line 1 column 4"},
      {"i_string_not_in_unicode_range.json", "invalid unicode code point at line 1 column 7"},
      {"i_string_overlong_sequence_2_bytes.json", "invalid unicode code point at line 1 column 5"},
      {"i_string_overlong_sequence_6_bytes.json", "invalid unicode code point at line 1 column 9"},
      {"i_string_overlong_sequence_6_bytes_null.json", "invalid unicode code point at line 1 column 9"},
      {"i_string_truncated-utf-8.json", "invalid unicode code point at line 1 column 5"},
      {"i_string_utf16BE_no_BOM.json", "expected value at line 1 column 1"},
      {"i_string_utf16LE_no_BOM.json", "expected value at line 1 column 2"},
      {"i_structure_500_nested_arrays.json", "recursion limit exceeded at line 1 column 128"},
      {"i_structure_UTF-8_BOM_empty_object.json", "expected value at line 1 column 1"},
  };
  std::size_t checked = 0;
  for (const SuiteFile& file : load_suite("i_")) {
    SCOPED_TRACE(file.name);
    auto parsed = parse_json(file.bytes);
    std::string outcome;
    if (parsed) {
      expect_fixed_point(*parsed);
      outcome = serialize_json(*parsed);
    } else {
      expect_positioned(file.bytes, parsed.error());
      outcome = parsed.error().display();
    }
    const auto it = expected.find(file.name);
    ASSERT_NE(it, expected.end());
    EXPECT_EQ(outcome, it->second);
    ++checked;
  }
  EXPECT_EQ(checked, expected.size());
}

}  // namespace
}  // namespace vk

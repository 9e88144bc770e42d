#include "native_messaging/json.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "native_messaging/json_numbers.h"
#include "native_messaging/json_strings.h"

// Every allocation of this test program is counted, so that a test can show
// an operation makes none.
namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return ::operator new(n, tag); }
// g++ takes these replacements for mismatched calls of free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace vk {
namespace {

using namespace std::string_literals;

// The display text of parsing `input`, or its compact text when it parses.
std::string outcome(std::string_view input) {
  auto parsed = parse_json(input);
  if (!parsed) return parsed.error().display();
  return serialize_json(*parsed);
}

JsonValue parse_ok(std::string_view input) {
  auto parsed = parse_json(input);
  EXPECT_TRUE(parsed.ok()) << input << ": " << (parsed ? "" : parsed.error().display());
  return parsed ? std::move(parsed).value() : JsonValue();
}

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// A repeatable stream of pseudo-random 64-bit numbers.
auto xorshift(std::uint64_t state) {
  return [state]() mutable {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
}

struct Case {
  std::string input;
  std::string expected;
};

void expect_outcomes(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(outcome(c.input), c.expected) << "input: " << c.input;
}

TEST(JsonParseErrors, EdgeCasesWithPositions) {
  expect_outcomes({
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"tru e", "expected ident at line 1 column 4"},
      {"nullx", "trailing characters at line 1 column 5"},
      {"{\"a\":1} x", "trailing characters at line 1 column 9"},
      {"{\"a\":1}\n\n}", "trailing characters at line 3 column 1"},
      {"{}\r\nx", "trailing characters at line 2 column 1"},
      {"{}\rx", "trailing characters at line 1 column 4"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"01", "invalid number at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"- 1", "invalid number at line 1 column 2"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"NaN", "expected value at line 1 column 1"},
      {"1e400", "number out of range at line 1 column 5"},
      {"2e308", "number out of range at line 1 column 5"},
      {"[\"\\x\"]", "invalid escape at line 1 column 4"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
      {"\"\xFF\"", "invalid unicode code point at line 1 column 3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
  });
}

TEST(JsonParseErrors, Literals) {
  expect_outcomes({
      {"n", "EOF while parsing a value at line 1 column 1"},
      {"fals", "EOF while parsing a value at line 1 column 4"},
      {"falsy", "expected ident at line 1 column 5"},
      {"nUll", "expected ident at line 1 column 2"},
      {"[tx]", "expected ident at line 1 column 3"},
      {"truex", "trailing characters at line 1 column 5"},
      {"True", "expected value at line 1 column 1"},
      {"[]]", "trailing characters at line 1 column 3"},
      {"}", "expected value at line 1 column 1"},
      {"\xC2\xA0" "1", "expected value at line 1 column 1"},
      {"1 \xC2\xA0", "trailing characters at line 1 column 3"},
      {"/* */ 1", "expected value at line 1 column 1"},
      {"\f1", "expected value at line 1 column 1"},
  });
}

TEST(JsonParseErrors, Containers) {
  expect_outcomes({
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[ ", "EOF while parsing a list at line 1 column 2"},
      {"[,1]", "expected value at line 1 column 2"},
      {"[1 , ]", "trailing comma at line 1 column 6"},
      {"[1}", "expected `,` or `]` at line 1 column 3"},
      {"[1:2]", "expected `,` or `]` at line 1 column 3"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\" ", "EOF while parsing an object at line 1 column 5"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"{\"a\":1, ", "EOF while parsing a value at line 1 column 8"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\":1]", "expected `,` or `}` at line 1 column 7"},
      {"{\"a\":1,2}", "key must be a string at line 1 column 8"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{'a':1}", "key must be a string at line 1 column 2"},
      {"{\"a\"=1}", "expected `:` at line 1 column 5"},
      {"{\"a\":}", "expected value at line 1 column 6"},
      {"{\"a\":1 , }", "trailing comma at line 1 column 10"},
      {"{\"a", "EOF while parsing a string at line 1 column 3"},
      {"[1]\n  [2]", "trailing characters at line 2 column 3"},
      {"[\n1\n,\n]", "trailing comma at line 4 column 1"},
  });
}

TEST(JsonParseErrors, Numbers) {
  expect_outcomes({
      {"-x", "invalid number at line 1 column 2"},
      {"-.5", "invalid number at line 1 column 2"},
      {"--1", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"00", "invalid number at line 1 column 2"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1E+", "EOF while parsing a value at line 1 column 3"},
      {"1e-", "EOF while parsing a value at line 1 column 3"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"1e 5", "invalid number at line 1 column 3"},
      {"[1.5e]", "invalid number at line 1 column 6"},
      {"0x1F", "trailing characters at line 1 column 2"},
      {"1x", "trailing characters at line 1 column 2"},
      {"1.5.5", "trailing characters at line 1 column 4"},
      {"Infinity", "expected value at line 1 column 1"},
      {"-Infinity", "invalid number at line 1 column 2"},
      // Exponent digits beyond 2147483647 with a non-zero significand.
      {"1e2147483648", "number out of range at line 1 column 12"},
      {"1e2147483647", "number out of range at line 1 column 12"},
      {"[1e99999999999]", "number out of range at line 1 column 13"},
      {"1.5E+3000000000", "number out of range at line 1 column 15"},
      {"-1e309", "number out of range at line 1 column 6"},
      {"1e309 ", "number out of range at line 1 column 5"},
      {"[1.8e308]", "number out of range at line 1 column 8"},
      {"0.1e310", "number out of range at line 1 column 7"},
      {std::string(400, '9'), "number out of range at line 1 column 400"},
  });
}

TEST(JsonParseErrors, Strings) {
  expect_outcomes({
      {"\"", "EOF while parsing a string at line 1 column 1"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"abc\\", "EOF while parsing a string at line 1 column 5"},
      {"\"\\u", "EOF while parsing a string at line 1 column 3"},
      {"\"\\u123", "EOF while parsing a string at line 1 column 6"},
      {"\"\\u12\"]", "invalid escape at line 1 column 7"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
      {"\"\\uG234\"", "invalid escape at line 1 column 7"},
      {"\"\\u123g\"", "invalid escape at line 1 column 7"},
      {"\"\\a\"", "invalid escape at line 1 column 3"},
      {"\"\\U0041\"", "invalid escape at line 1 column 3"},
      {"\"\\'\"", "invalid escape at line 1 column 3"},
      {"\"\\\xC3\xA9\"", "invalid escape at line 1 column 3"},
      {"\"\\uDFFF\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"\"\\uD800\\", "EOF while parsing a string at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\uD800\\u12", "EOF while parsing a string at line 1 column 11"},
      {"\"\\uD800\\u12x4\"", "invalid escape at line 1 column 13"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800\\uD800\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uDBFF\\uE000\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\t\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"\"\r\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      {"\"a\\n\x1F\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 5"},
      {"\"\0\""s, "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
      // Content is checked as UTF-8 only once the string is closed.
      {"\"\xFF", "EOF while parsing a string at line 1 column 2"},
      {"\"\xFF\\x\"", "invalid escape at line 1 column 4"},
      {"\"\xFF\n\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"ok\" \"\xC0\x80\"", "trailing characters at line 1 column 6"},
      {"[\"abcdefghij\xFF klmnopqrstu\"]", "invalid unicode code point at line 1 column 26"},
  });
}

TEST(JsonParseErrors, InvalidUtf8IsReportedAtTheClosingQuote) {
  const std::vector<std::string> bad = {
      "\x80",              // lone continuation byte
      "\xC0\xAF",          // overlong 2-byte
      "\xC1\xBF",          // overlong 2-byte
      "\xE0\x80\xAF",      // overlong 3-byte
      "\xE0\x9F\xBF",      // overlong 3-byte
      "\xED\xA0\x80",      // encoded surrogate
      "\xED\xBF\xBF",      // encoded surrogate
      "\xF0\x80\x80\xAF",  // overlong 4-byte
      "\xF0\x8F\xBF\xBF",  // overlong 4-byte
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte never valid
      "\xFE",              // lead byte never valid
      "\xC3",              // cut off at the quotation mark
      "\xE2\x82",          // cut off
      "\xF0\x9F\x98",      // cut off
      "\xC3\\u00a9",       // cut off by an escape
      "\xC3\xA9\xA9",      // stray continuation
      "abcdefgh\xE2\x82xyz",
  };
  for (const std::string& content : bad) {
    const std::string input = "\"" + content + "\"";
    EXPECT_EQ(outcome(input), "invalid unicode code point at line 1 column " + std::to_string(input.size()))
        << "content bytes: " << content.size();
  }
}

TEST(JsonParse, ValidUtf8IsKeptByteForByte) {
  const std::vector<std::string> good = {
      "\x7F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEC\xBF\xBF", "\xED\x9F\xBF", "\xEE\x80\x80",
      "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF3\xBF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xE2\x80\xA8\xE2\x80\xA9",
      "plain ascii run longer than eight bytes \xC3\xA9 then more \xF0\x9F\x98\x80 end",
  };
  for (const std::string& content : good) {
    const JsonValue v = parse_ok("\"" + content + "\"");
    EXPECT_EQ(v.as_string(), content);
    EXPECT_EQ(serialize_json(v), "\"" + content + "\"");
  }
}

TEST(JsonParse, Escapes) {
  const std::vector<Case> cases = {
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u00E9\u20AC\uffff")", "A\xC3\xA9\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF"},
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      {R"("\udbff\udfff")", "\xF4\x8F\xBF\xBF"},
      {R"("\u0000")", "\0"s},
      {R"("a\u0000b")", "a\0b"s},
      {"\"x\xC3\xA9\\n\xE2\x82\xAC\"", "x\xC3\xA9\n\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    const JsonValue v = parse_ok(c.input);
    EXPECT_EQ(v.as_string(), c.expected) << c.input;
  }
}

TEST(JsonParse, WorkedExampleIsWrittenBackByteForByte) {
  const std::string input =
      "{\"zeta\": 1, \"Alpha\": [true, null], \"num\": 1.50, \"big\": 1E21, \"neg\": -0, "
      "\"text\": \"a\\/b\\u00e9\\u001F\", \"Beta\": \"\xC3\xA9\", \"zeta\": 2, \"\": 18446744073709551615}";
  EXPECT_EQ(outcome(input),
            "{\"\":18446744073709551615,\"Alpha\":[true,null],\"Beta\":\"\xC3\xA9\",\"big\":1e21,\"neg\":-0.0,"
            "\"num\":1.5,\"text\":\"a/b\xC3\xA9\\u001f\",\"zeta\":2}");
  EXPECT_EQ(serialize_json(JsonValue("control character (\\u0000-\\u001F) found while parsing a string")),
            R"("control character (\\u0000-\\u001F) found while parsing a string")");
}

TEST(JsonParse, NumbersAreNormalised) {
  expect_outcomes({
      {"1e-400", "0.0"},
      {"0e999999999999", "0.0"},
      {"1e-99999999999", "0.0"},
      {"-1e-400", "-0.0"},
      {"-5e-99999999999", "-0.0"},
      {"-0e2147483648", "-0.0"},
      {"0.0e+99999999999999", "0.0"},
      {"1.7976931348623157e308", "1.7976931348623157e308"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "1.8446744073709552e19"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"-9223372036854775809", "-9.223372036854776e18"},
      {"123456789012345678901234567890", "1.2345678901234568e29"},
      {"1.0", "1.0"},
      {"1e2", "100.0"},
      {"100e-2", "1.0"},
      {"0.000001", "1e-6"},
      {"0.00001", "0.00001"},
      {"1e15", "1000000000000000.0"},
      {"1e16", "1e16"},
      {"1e-23", "1.0000000000000001e-23"},
      {"3e23", "2.9999999999999997e23"},
      {"9007199254740993.0", "9007199254740994.0"},
      {"1e23", "1e23"},
      {"0.1", "0.1"},
      {"-0", "-0.0"},
      {"-0.0", "-0.0"},
      {"-0e7", "-0.0"},
      {"0", "0"},
      {"-1", "-1"},
      {"0E+0", "0.0"},
      {"12.34", "12.34"},
      {"1.5e-7", "1.5e-7"},
      {"0.0001234", "0.0001234"},
      {"5e-324", "5e-324"},
      {"4e-324", "5e-324"},
      {"2.2250738585072014e-308", "2.2250738585072014e-308"},
      {"1e-320", "1e-320"},
      // Exponents below -308 are divided down in steps of 10^308.
      {"1e-310", "1e-310"},
      {"1e-323", "1e-323"},
      {"1e-330", "0.0"},
      {"123.0e-2", "1.23"},
      {"1e+2", "100.0"},
      {"1E-2", "0.01"},
      // Digits past the 64-bit significand: integer ones count, fraction ones drop.
      {"184467440737095516159999", "1.844674407370955e23"},
      {"1.00000000000000000000000000001", "1.0"},
      {"0.000000000000000000000000000000000000000000000001", "1e-48"},
      {"18446744073709551616.5", "1.8446744073709552e19"},
      {"[1e1, 1.5E+1, -2.5e-1]", "[10.0,15.0,-0.25]"},
      {"-18446744073709551615", "-1.8446744073709552e19"},
  });
}

TEST(JsonParse, LongDigitRunsAreGatheredLikeOneAtATime) {
  expect_outcomes({
      {"12345678", "12345678"},
      {"1234567812345678", "1234567812345678"},
      {"1234567890123456789", "1234567890123456789"},
      {"12345678901234567890", "12345678901234567890"},
      {"99999999999999999999", "1e20"},
      {"[12345678,87654321]", "[12345678,87654321]"},
      {"1234567a", "trailing characters at line 1 column 8"},
      {"0.12345678", "0.12345678"},
      {"0.1234567812345678", "0.1234567812345678"},
      {"1234.5678", "1234.5678"},
      {"12345678.12345678e-8", "0.1234567812345678"},
      {"0.00000000000000000000000001", "9.999999999999999e-27"},
      {"1.000000000000000000000000000000000000000000000000000000001", "1.0"},
      {"18446744073709551615.0", "1.8446744073709552e19"},
      {"1844674407370955161.59", "1.8446744073709553e18"},
  });
  // Within the exact range the result is the correctly rounded one.
  const char* inputs[] = {"0.12345678", "87654321.12345678", "1234567.1234567e-3", "0.000123456789012345"};
  for (const char* input : inputs) {
    EXPECT_EQ(bits(*parse_ok(input).as_double()), bits(std::strtod(input, nullptr))) << input;
  }
}

TEST(JsonParse, NumberKinds) {
  struct KindCase {
    const char* input;
    JsonValue::Kind kind;
  };
  const KindCase cases[] = {
      {"0", JsonValue::Kind::unsigned_integer},
      {"18446744073709551615", JsonValue::Kind::unsigned_integer},
      {"18446744073709551616", JsonValue::Kind::floating},
      {"-1", JsonValue::Kind::signed_integer},
      {"-9223372036854775808", JsonValue::Kind::signed_integer},
      {"-9223372036854775809", JsonValue::Kind::floating},
      {"-0", JsonValue::Kind::floating},
      {"1.0", JsonValue::Kind::floating},
      {"1e0", JsonValue::Kind::floating},
      {"123456789012345678901234567890", JsonValue::Kind::floating},
  };
  for (const KindCase& c : cases) EXPECT_EQ(parse_ok(c.input).kind(), c.kind) << c.input;

  EXPECT_EQ(*parse_ok("18446744073709551615").as_unsigned(), UINT64_MAX);
  EXPECT_EQ(*parse_ok("-9223372036854775808").as_signed(), INT64_MIN);
  EXPECT_EQ(*parse_ok("-42").as_signed(), -42);
  EXPECT_EQ(bits(*parse_ok("-0").as_double()), bits(-0.0));
  EXPECT_NE(parse_ok("1"), parse_ok("1.0"));
  EXPECT_NE(parse_ok("0.0"), parse_ok("-0.0"));
  EXPECT_EQ(parse_ok("[1,{\"a\":-2.5}]"), parse_ok("[ 1 , { \"a\" : -25e-1 } ]"));
}

TEST(JsonParse, PowersOfTenAreTheNearestDoubles) {
  for (int i = 0; i <= 308; ++i) {
    const std::string text = "1e" + std::to_string(i);
    const double nearest = std::strtod(text.c_str(), nullptr);
    EXPECT_EQ(bits(json_detail::power_of_ten(i)), bits(nearest)) << text;
    // With S = 1 the conversion is the table entry itself.
    EXPECT_EQ(bits(*parse_ok(text).as_double()), bits(nearest)) << text;
    const std::string inverse = "1e-" + std::to_string(i);
    EXPECT_EQ(bits(*parse_ok(inverse).as_double()), bits(1.0 / nearest)) << inverse;
  }
}

TEST(JsonParse, ConversionAgreesWithCorrectRoundingInTheExactRange) {
  // S ≤ 2^53 and |E| ≤ 22: one correctly rounded operation on exact operands.
  const char* inputs[] = {"9007199254740992e22", "123456789e-22", "4.35", "0.3", "2.675", "1.1e-22", "7e22"};
  for (const char* input : inputs) {
    EXPECT_EQ(bits(*parse_ok(input).as_double()), bits(std::strtod(input, nullptr))) << input;
  }
}

TEST(JsonParse, ReadingBackWrittenDoublesIsNotAlwaysExact) {
  // The shortest digits assume correctly rounded reading, which this reader
  // deliberately does not do; a double can move by a unit on the way back.
  EXPECT_EQ(outcome("31123123123123123123"), "3.1123123123123122e19");
  EXPECT_EQ(outcome("3.1123123123123122e19"), "3.112312312312312e19");
  EXPECT_EQ(outcome("3.112312312312312e19"), "3.112312312312312e19");
}

TEST(JsonParse, NestingBudget) {
  const std::string deep_ok = std::string(127, '[') + std::string(127, ']');
  EXPECT_EQ(outcome(deep_ok), deep_ok);
  EXPECT_EQ(outcome(std::string(128, '[')), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(outcome(std::string(128, '[') + std::string(128, ']')), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(outcome(std::string(100000, '[')), "recursion limit exceeded at line 1 column 128");
  std::string mixed;
  for (int i = 0; i < 127; ++i) mixed += i % 2 == 0 ? "{\"k\":" : "[";
  std::string closing_mixed;
  for (int i = 126; i >= 0; --i) closing_mixed += i % 2 == 0 ? "}" : "]";
  EXPECT_TRUE(parse_json(mixed + "1" + closing_mixed).ok());
  EXPECT_EQ(outcome(mixed + "[1]" + closing_mixed), "recursion limit exceeded at line 1 column " +
                                                        std::to_string(mixed.size() + 1));
  // Siblings give their unit back: only depth counts.
  std::string siblings = "[";
  for (int i = 0; i < 300; ++i) {
    if (i != 0) siblings += ',';
    siblings.append(126, '[').append(126, ']');
  }
  siblings += "]";
  EXPECT_TRUE(parse_json(siblings).ok());
}

TEST(JsonParse, ObjectsKeepLastDuplicateAndSortByBytes) {
  expect_outcomes({
      {R"({"\u0061":1,"a":2})", R"({"a":2})"},
      {R"({"a":1,"a":{"x":1},"a":[3]})", R"({"a":[3]})"},
      {R"({"b":1,"a":2,"b":3,"a":4})", R"({"a":4,"b":3})"},
      {"{\"\xC3\xA9\":1,\"z\":2,\"_x\":3,\"Zx\":4,\"ax\":5,\"a0\":6,\"a\":7,\"B\":8,\"\":9,\"9\":10}",
       "{\"\":9,\"9\":10,\"B\":8,\"Zx\":4,\"_x\":3,\"a\":7,\"a0\":6,\"ax\":5,\"z\":2,\"\xC3\xA9\":1}"},
  });
  // More members than the small-object path, with duplicates spread around.
  std::string text = "{";
  for (int i = 0; i < 200; ++i) {
    if (i != 0) text += ',';
    text.append("\"k").append(std::to_string(i % 50)).append("\":").append(std::to_string(i));
  }
  text += "}";
  const std::optional<JsonObject> object = parse_ok(text).as_object();
  ASSERT_TRUE(object);
  ASSERT_EQ(object->size(), 50u);
  EXPECT_EQ(object->find("k7")->as_unsigned(), 157u);
  std::string previous;
  for (const auto& [key, value] : *object) {
    EXPECT_LT(previous, key);
    previous = key;
  }
}

// "line L column C" of the byte before offset `past` of `input`, counted
// directly in the input.
std::string position_in(std::string_view input, std::size_t past) {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < past; ++i) {
    if (input[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return "line " + std::to_string(line) + " column " + std::to_string(past - line_start);
}

// Doubles can be written longer than they were read (1e15 becomes
// 1000000000000000.0), which moves the unread input up within the buffer the
// text is written into; errors after that still name the input's bytes.
TEST(JsonParseErrors, PositionsHoldWhereNumbersOutgrowTheirText) {
  struct TailCase {
    std::string tail;
    std::string message;
    std::size_t past;  // one past the reported byte, counted in the tail
  };
  const std::vector<TailCase> tails = {
      {"x]", "expected value", 1},
      {"1e15 x", "expected `,` or `]`", 6},
      {"\"\\u\n\n\n\n\"]", "invalid escape", 7},
      {"tru\ne]", "expected ident", 4},
      {"1e15", "EOF while parsing a list", 4},
      {"\"\\u\n\n", "EOF while parsing a string", 5},
      {"1e400]", "number out of range", 5},
      {"{\"k\":1e15,\n\"k\" 1}]", "expected `:`", 16},
      {"\"\xC3\\n\"]", "invalid unicode code point", 5},
  };
  for (const int n : {0, 1, 7, 300, 20000}) {
    std::string head = "[";
    std::string written = "[";
    for (int i = 0; i < n; ++i) {
      head += i % 7 == 0 ? "1e15,\n" : "-1E2 ,";
      written += i % 7 == 0 ? "1000000000000000.0," : "-100.0,";
    }
    for (const TailCase& c : tails) {
      std::string input = head + c.tail;
      const std::string expected = c.message + " at " + position_in(input, head.size() + c.past);
      // Both ways in: a copy of the text, and the caller's buffer itself.
      EXPECT_EQ(outcome(input), expected) << n << " elements, then " << c.tail;
      auto in_place = parse_json(std::move(input));
      ASSERT_FALSE(in_place.ok());
      EXPECT_EQ(in_place.error().display(), expected) << n << " elements, then " << c.tail;
    }
    auto parsed = parse_json(head + "5e-324]");
    ASSERT_TRUE(parsed.ok()) << n;
    EXPECT_EQ(serialize_json(*parsed), written + "5e-324]") << n;
  }
}

// Keys are ordered and told apart by their decoded bytes, which for escaped
// keys is not the order of their written text.
TEST(JsonParse, EscapedKeysSortAndMergeByTheirCharacters) {
  expect_outcomes({
      {R"({"b":6,"\\":5,"A":2,"\"":4,"\n":1,"\u0001":3})", R"({"\u0001":3,"\n":1,"\"":4,"A":2,"\\":5,"b":6})"},
      {R"({"abcdefghA":1,"abcdefgh\n":2,"abcdefgh":3})", R"({"abcdefgh":3,"abcdefgh\n":2,"abcdefghA":1})"},
      {R"({"a\u0062":1,"ab":2,"\u0061b":3,"c":0})", R"({"ab":3,"c":0})"},
      {R"({"\b":1,"\u0008":2})", R"({"\b":2})"},
      {R"({"\/x":1,"/x":2,"\u00e9":3,"\u00E9":4})", "{\"/x\":2,\"\xC3\xA9\":4}"},
  });
}

// Each key pair is given as JSON string content, escapes written any way
// the parser accepts; the reference order is that of the parser's decoded
// bytes. Compared as the compact text holds them, keys must order the same
// way, and without decoding aside (no allocation, whatever their length):
// directly, when an object is sorted, and when a member is looked up.
TEST(JsonKeyOrder, EscapedKeysOrderByTheirDecodedBytesWithoutAllocating) {
  const std::pair<std::string, std::string> pairs[] = {
      {R"(abcdefgh\n)", R"(abcdefghA)"},
      {R"(\\)", R"(\")"},
      {R"(\u0001)", R"(\n)"},
      {R"(\u001F)", R"( )"},
      {R"(\u00e9)", R"(z)"},
      {R"(\u00e9)", R"(\u00E8)"},
      {R"(\u0000)", R"()"},
      {R"(same prefix long enough\tX)", R"(same prefix long enough\u0009X)"},
      {R"(same prefix long enough\t)", R"(same prefix long enough\tY)"},
      {R"(same prefix long enough\b)", R"(same prefix long enough\f)"},
      {R"(long shared head \u0001\u0002)", R"(long shared head \u0001\u0003)"},
      {R"(long shared head \u001f tail)", R"(long shared head \\ tail)"},
      {R"(long shared head \u001f tail)", R"(long shared head \u001e tail)"},
      {R"(\\\\\\x and more text)", R"(\\\\\\ and more text)"},
      {R"(\n\t\r\b\f\"\\ab then more)", R"(\n\t\r\b\f\"\\ac then more)"},
      {R"(\/x long enough to leave SSO)", R"(/x long enough to leave SSO)"},
      {R"(\u0041b long enough to leave SSO)", R"(Ab long enough to leave SSO)"},
      {R"(emoji long enough key \uD83D\uDE00)", "emoji long enough key \xF0\x9F\x98\x80"},
      {R"(del long enough key \u007f)", R"(del long enough key \u001f)"},
      {"caf\xC3\xA9 long enough key \\n", R"(caf\u00e9 long enough key \t)"},
  };
  const auto sign = [](int order) { return (order > 0) - (order < 0); };
  for (const auto& [a, b] : pairs) {
    const std::string context = a + " | " + b;
    const std::string decoded_a = parse_ok("\"" + a + "\"").as_string().value();
    const std::string decoded_b = parse_ok("\"" + b + "\"").as_string().value();
    const int expected = sign(decoded_a.compare(decoded_b));
    const std::string quoted_a = serialize_json(parse_ok("\"" + a + "\""));
    const std::string quoted_b = serialize_json(parse_ok("\"" + b + "\""));
    const std::string_view compact_a = std::string_view(quoted_a).substr(1, quoted_a.size() - 2);
    const std::string_view compact_b = std::string_view(quoted_b).substr(1, quoted_b.size() - 2);

    const std::size_t before = allocations.load();
    const int forward = json_detail::compare_compact_content(compact_a, compact_b);
    const int backward = json_detail::compare_compact_content(compact_b, compact_a);
    EXPECT_EQ(allocations.load() - before, 0u) << context;
    EXPECT_EQ(sign(forward), expected) << context;
    EXPECT_EQ(sign(backward), -expected) << context;

    const std::string sorted = expected < 0    ? "{" + quoted_a + ":1," + quoted_b + ":2}"
                               : expected > 0 ? "{" + quoted_b + ":2," + quoted_a + ":1}"
                                              : "{" + quoted_b + ":2}";
    const JsonValue object = parse_ok("{\"" + a + "\":1,\"" + b + "\":2}");
    EXPECT_EQ(serialize_json(object), sorted) << context;
    EXPECT_EQ(object.member(decoded_a), JsonValue(std::uint64_t{expected == 0 ? 2u : 1u})) << context;
    EXPECT_EQ(object.member(decoded_b), JsonValue(std::uint64_t{2})) << context;
  }
}

// Unsorted objects inside unsorted objects, with duplicates whose values
// are containers: each level is sorted once its own members are.
TEST(JsonParse, NestedObjectsAreSortedAtEveryLevel) {
  expect_outcomes({
      {R"({"z":{"y":[{"b":1,"a":2}],"x":{}},"a":{"d":1,"c":{"f":1,"e":2}},"z":{"q":1,"p":[]}})",
       R"({"a":{"c":{"e":2,"f":1},"d":1},"z":{"p":[],"q":1}})"},
      {" { \"b\" : [ { \"d\" : 1 , \"c\" : 2 } ] , \"a\" : \"\\u0041\" } ",
       R"({"a":"A","b":[{"c":2,"d":1}]})"},
  });
}

TEST(JsonValueText, ValuesReadBackFromTheirText) {
  const JsonValue v = parse_ok(
      R"({"s":"a\"\\\/\b\f\n\r\t\u0001\u00e9\uD83D\uDE00","n":[1,-2,2.5,true,null,[],{}],"o":{"k":{"x":1}},)"
      R"("e\n":"newline key"})");
  EXPECT_EQ(v.kind(), JsonValue::Kind::object);
  EXPECT_EQ(v.member("s").value().as_string(), "a\"\\/\b\f\n\r\t\x01\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(v.member("e\n").value().as_string(), "newline key");
  EXPECT_EQ(v.member("o").value().member("k").value().member("x").value().as_unsigned(), 1u);
  EXPECT_FALSE(v.member("t"));
  EXPECT_FALSE(v.member("a"));
  EXPECT_FALSE(v.member("zz"));
  EXPECT_FALSE(parse_ok("[1]").member("1"));

  const JsonArray elements = v.member("n").value().as_array().value();
  ASSERT_EQ(elements.size(), 7u);
  EXPECT_EQ(elements[0].as_unsigned(), 1u);
  EXPECT_EQ(elements[1].as_signed(), -2);
  EXPECT_EQ(elements[2].as_double(), 2.5);
  EXPECT_EQ(elements[3].as_bool(), true);
  EXPECT_EQ(elements[4].kind(), JsonValue::Kind::null);
  EXPECT_EQ(elements[5].as_array(), JsonArray());
  EXPECT_EQ(elements[6].as_object(), JsonObject());

  const JsonObject object = v.as_object().value();
  std::vector<std::string> keys;
  for (const auto& [key, value] : object) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"e\n", "n", "o", "s"}));
  // Read out and built again, a value is the same text.
  EXPECT_EQ(JsonValue(object), v);
  EXPECT_EQ(JsonValue(elements), v.member("n").value());

  // Each accessor is empty for every other kind.
  const JsonValue kinds[] = {JsonValue(), JsonValue(true), JsonValue(std::uint64_t{1}), JsonValue(std::int64_t{-1}),
                             JsonValue(1.0), JsonValue("1"), JsonValue(JsonArray()), JsonValue(JsonObject())};
  for (const JsonValue& k : kinds) {
    const int present = k.as_bool().has_value() + k.as_unsigned().has_value() + k.as_signed().has_value() +
                        k.as_double().has_value() + k.as_string().has_value() + k.as_array().has_value() +
                        k.as_object().has_value();
    EXPECT_EQ(present, k.kind() == JsonValue::Kind::null ? 0 : 1) << k.text();
  }
}

// A caller's integer keeps the kind it was built as, whatever its sign,
// and the kind is part of the value. A non-negative signed integer is
// written as the unsigned one is, so in an array's or an object's text it
// reads back as the parser reads it: unsigned.
TEST(JsonValueText, BuiltIntegersKeepTheirKind) {
  struct IntegerCase {
    JsonValue value;
    JsonValue::Kind kind;
    std::string text;
    std::optional<std::int64_t> as_signed;
    std::optional<std::uint64_t> as_unsigned;
  };
  const IntegerCase cases[] = {
      {JsonValue(std::int64_t{7}), JsonValue::Kind::signed_integer, "7", 7, std::nullopt},
      {JsonValue(std::int64_t{0}), JsonValue::Kind::signed_integer, "0", 0, std::nullopt},
      {JsonValue(INT64_MAX), JsonValue::Kind::signed_integer, "9223372036854775807", INT64_MAX, std::nullopt},
      {JsonValue(std::int64_t{-7}), JsonValue::Kind::signed_integer, "-7", -7, std::nullopt},
      {JsonValue(std::uint64_t{7}), JsonValue::Kind::unsigned_integer, "7", std::nullopt, 7},
      {parse_ok("7"), JsonValue::Kind::unsigned_integer, "7", std::nullopt, 7},
      {parse_ok("-7"), JsonValue::Kind::signed_integer, "-7", -7, std::nullopt},
      {parse_ok("[7]").as_array().value()[0], JsonValue::Kind::unsigned_integer, "7", std::nullopt, 7},
      {JsonValue(JsonArray{JsonValue(std::int64_t{7})}).as_array().value()[0], JsonValue::Kind::unsigned_integer, "7",
       std::nullopt, 7},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(c.value.kind(), c.kind) << c.text;
    EXPECT_EQ(c.value.text(), c.text);
    EXPECT_EQ(c.value.as_signed(), c.as_signed) << c.text;
    EXPECT_EQ(c.value.as_unsigned(), c.as_unsigned) << c.text;
  }
  const JsonValue seven(std::int64_t{7});
  EXPECT_NE(seven, JsonValue(std::uint64_t{7}));
  EXPECT_NE(seven, parse_ok("7"));
  EXPECT_EQ(JsonValue(std::int64_t{-7}), parse_ok("-7"));
  EXPECT_EQ(JsonValue(JsonArray{seven}), parse_ok("[7]"));
  // Held, edited (it is no object) and moved, it stays what it is.
  JsonObject object;
  object.set("n", seven);
  EXPECT_EQ(object.find("n")->as_signed(), 7);
  EXPECT_EQ(seven.with_string_member("k", "v"), seven);
  JsonValue moved = seven;
  const JsonValue taken = std::move(moved);
  EXPECT_EQ(taken, seven);
  EXPECT_EQ(moved, JsonValue());
}

// Text that is not well-formed UTF-8 is repaired wherever a caller hands it
// in: each maximal ill-formed part becomes U+FFFD, as browsers decode it,
// so every value holds text the parser accepts and reads back the same.
TEST(JsonValueText, IllFormedUtf8FromCallersIsRepaired) {
  const std::string r = "\xEF\xBF\xBD";
  const std::vector<Case> cases = {
      {"\xFF", r},
      {"a\xFF" "b", "a" + r + "b"},
      {"\x80\x80", r + r},
      {"\xC0\xAF", r + r},                  // overlong: C0 begins nothing
      {"\xED\xA0\x80", r + r + r},           // a surrogate: ED cannot go on with A0
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF0\x9F\x98", r},                  // cut off at the end: one part
      {"\xF0\x9F\x98" "A", r + "A"},        // cut off by a byte that begins a character
      {"\xE2\x82\xE2\x82\xAC", r + "\xE2\x82\xAC"},
      {"\xC3\xA9\x80", "\xC3\xA9" + r},
      {"\"\xFF\n", "\"" + r + "\n"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xF0\x9F\x98\x80"},  // well-formed: unchanged
  };
  for (const Case& c : cases) {
    const JsonValue value(c.input);
    EXPECT_EQ(value.as_string(), c.expected) << c.input;
    EXPECT_EQ(parse_ok(serialize_json(value)), value) << c.input;
    // As a key: held repaired, found by either spelling, written once.
    JsonObject object;
    object.set(c.input, JsonValue(true));
    object.set(c.expected, JsonValue(false));
    EXPECT_EQ(object.size(), 1u) << c.input;
    EXPECT_EQ(object.find(c.input), object.find(c.expected)) << c.input;
    EXPECT_EQ(serialize_json(JsonValue(object)), "{" + serialize_json(JsonValue(c.expected)) + ":false}");
    // Through the member editor, as key and as text.
    const JsonValue edited = parse_ok(R"({"a":1})").with_string_member(c.input, c.input);
    EXPECT_EQ(parse_ok(serialize_json(edited)), edited) << c.input;
    EXPECT_EQ(edited.member(c.input), JsonValue(c.expected)) << c.input;
  }
}

TEST(JsonValueText, SettingAStringMember) {
  struct MemberCase {
    std::string value;
    std::string key;
    std::string text;
    std::string expected;
  };
  const std::vector<MemberCase> cases = {
      {"{}", "auth_token", "T", R"({"auth_token":"T"})"},
      {R"({"id":1})", "auth_token", "T", R"({"auth_token":"T","id":1})"},
      {R"({"a":1})", "auth_token", "T", R"({"a":1,"auth_token":"T"})"},
      {R"({"a":[{"auth_token":0}],"z":2})", "auth_token", "T", R"({"a":[{"auth_token":0}],"auth_token":"T","z":2})"},
      {R"({"auth_token":{"x":[1]},"b":2})", "auth_token", "T", R"({"auth_token":"T","b":2})"},
      {R"({"a":"}","auth_token":"old"})", "auth_token", "T", R"({"a":"}","auth_token":"T"})"},
      {R"({"\n":1,"a":2})", "\u000b", "T", R"({"\n":1,"\u000b":"T","a":2})"},
      {R"({"k":1})", "k", "quote\" line\n", R"({"k":"quote\" line\n"})"},
      {"[1]", "auth_token", "T", "[1]"},
      {R"("text")", "auth_token", "T", R"("text")"},
      {"null", "auth_token", "T", "null"},
  };
  for (const MemberCase& c : cases) {
    const JsonValue value = parse_ok(c.value);
    EXPECT_EQ(serialize_json(value.with_string_member(c.key, c.text)), c.expected) << c.value;
    std::string out = "head";
    serialize_json_with_string_member_to(value, c.key, c.text, out);
    EXPECT_EQ(out, "head" + c.expected) << c.value;
    EXPECT_EQ(serialized_size_with_string_member(value, c.key, c.text), c.expected.size()) << c.value;
    // The result is what parsing its text gives.
    EXPECT_EQ(parse_ok(c.expected), value.with_string_member(c.key, c.text)) << c.value;
  }
}

// The in-place rewrite at the edges of the conditions it relies on (stated
// on JsonParser and checked there in debug and sanitizer builds): numbers
// outgrowing their text in a buffer with no room to spare, short tokens
// within a block's length of the end, escapes shrinking up to the end,
// unsorted objects with escaped keys inside unsorted objects, and an error
// after the input has moved. Each input is parsed from a buffer of its own
// size, from one of json_parse_capacity, and from a copy.
TEST(JsonParse, InPlaceRewriteAtTheEdgesOfItsConditions) {
  std::string lengthened = "[";
  std::string lengthened_written = "[";
  for (int i = 0; i < 300; ++i) {
    lengthened += "1e15,-1E2,";
    lengthened_written += "1000000000000000.0,-100.0,";
  }
  const std::vector<Case> cases = {
      {"1e15", "1000000000000000.0"},
      {"[1e15]", "[1000000000000000.0]"},
      {lengthened + "7]", lengthened_written + "7]"},
      {lengthened + "\n x]", "expected value at line 2 column 2"},
      {"[true,false,null,-12345678901234]", "[true,false,null,-12345678901234]"},
      {" [ 1 , 2 ] ", "[1,2]"},
      {R"("\u00e9\/\n\uD83D\uDE00")", "\"\xC3\xA9/\\n\xF0\x9F\x98\x80\""},
      {R"({"b\n":{"z":1e15,"a\t":[1E2]},"a\u0000":-0,"a":"\/"})",
       R"({"a":"/","a\u0000":-0.0,"b\n":{"a\t":[100.0],"z":1000000000000000.0}})"},
  };
  const auto in_place = [](std::string text) {
    auto parsed = parse_json(std::move(text));
    return parsed ? serialize_json(*parsed) : parsed.error().display();
  };
  for (const Case& c : cases) {
    const std::string context = c.input.substr(0, 40);
    std::string roomy;
    roomy.reserve(json_parse_capacity(c.input.size()));
    roomy = c.input;
    EXPECT_EQ(in_place(std::string(c.input)), c.expected) << context;
    EXPECT_EQ(in_place(std::move(roomy)), c.expected) << context;
    EXPECT_EQ(outcome(c.input), c.expected) << context;
  }
}

// The text is written below the input still to be read, at a distance set
// by whitespace and escapes before it: strings must come out whole at every
// distance, including those shorter than the word the scanner copies.
TEST(JsonParse, StringsAreWrittenWholeAtEveryDistanceBelowTheInput) {
  const std::string content = "plain run longer than a word \\u00e9 caf\xC3\xA9 \\n tab\\t \\\" end";
  const std::string written = "plain run longer than a word \xC3\xA9 caf\xC3\xA9 \\n tab\\t \\\" end";
  for (std::size_t gap = 0; gap <= 20; ++gap) {
    const std::string input = "[" + std::string(gap, ' ') + "\"" + content + "\",\"" + content + "\",{\"" + content +
                              "\":\"x\\/y\"},\"short\"]";
    EXPECT_EQ(outcome(input), "[\"" + written + "\",\"" + written + "\",{\"" + written + "\":\"x/y\"},\"short\"]")
        << gap;
  }
}

// Doubles of at most 15 digits are written from their own digits; that
// must be what converting them and writing the double gives.
TEST(JsonParse, ShortDecimalsAreWrittenAsTheirDoubles) {
  auto next = xorshift(0x9E3779B97F4A7C15u);
  for (int i = 0; i < 100000; ++i) {
    std::uint64_t limit = 10;
    for (std::uint64_t k = next() % 15; k > 0; --k) limit *= 10;
    const std::uint64_t digits = next() % limit;
    const int scale = static_cast<int>(next() % 45) - 22;
    const bool negative = (next() & 1) != 0;
    const std::string sign = negative ? "-" : "";
    std::string text = std::to_string(digits);
    // As a fraction (1.25, or 0.0125 below 1) or with an exponent.
    if (i % 2 == 0 && scale < 0 && static_cast<std::size_t>(-scale) < text.size()) {
      text.insert(text.size() - static_cast<std::size_t>(-scale), ".");
    } else if (i % 4 == 1 && scale < 0 && static_cast<std::size_t>(-scale) >= text.size()) {
      text = "0." + std::string(static_cast<std::size_t>(-scale) - text.size(), '0') + text;
    } else {
      text += (i % 3 == 0 ? "E" : "e") + std::string(i % 5 == 0 && scale >= 0 ? "+" : "") + std::to_string(scale);
    }
    text = sign + text;
    double value = 0;
    ASSERT_TRUE(json_detail::decimal_to_double(digits, scale, value));
    ASSERT_EQ(outcome(text), serialize_json(JsonValue(negative ? -value : value))) << text;
  }
}

TEST(JsonParse, WhitespaceAndTopLevelKinds) {
  expect_outcomes({
      {" \t\r\n{ \"a\" :\t[ 1 ,\n2 ] } \r\n", R"({"a":[1,2]})"},
      {"\"text\"", "\"text\""},
      {"true", "true"},
      {"false", "false"},
      {"null", "null"},
      {"[]", "[]"},
      {"{}", "{}"},
      {"[[],{},[{}]]", "[[],{},[{}]]"},
      {"  7  ", "7"},
  });
}

TEST(JsonParse, NeverReadsPastTheInput) {
  // Every prefix in a buffer of exactly its size; the sanitizer build
  // catches any read beyond it.
  const std::string doc =
      "{\"name\":\"caf\xC3\xA9 \\u00e9\\uD83D\\uDE00 long enough for word scans\",\"n\":[-12.5e-3,0,"
      "18446744073709551616,1e400],\"t\":true,\"f\":false,\"z\":null,\"s\":\"\\\"\\\\\\/\\b\"}";
  for (std::size_t n = 0; n <= doc.size(); ++n) {
    auto buffer = std::make_unique<char[]>(n == 0 ? 1 : n);
    std::memcpy(buffer.get(), doc.data(), n);
    auto parsed = parse_json(std::string_view(buffer.get(), n));
    if (n < doc.size()) {
      ASSERT_FALSE(parsed.ok()) << n;
      EXPECT_EQ(parsed.error().line, 1u);
      EXPECT_LE(parsed.error().column, n);
    }
  }
}

TEST(JsonWrite, Doubles) {
  struct DoubleCase {
    double value;
    const char* text;
  };
  const DoubleCase cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {123.0, "123.0"},
      {1.5, "1.5"},
      {12.34, "12.34"},
      {-12.34, "-12.34"},
      {0.1, "0.1"},
      {0.00001, "0.00001"},
      {0.0001234, "0.0001234"},
      {0.000001, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1234567890123456.7, "1234567890123456.8"},
      {1e16, "1e16"},
      {1.5e16, "1.5e16"},
      {12345678901234567.0, "1.2345678901234568e16"},
      {1e21, "1e21"},
      {18446744073709551616.0, "1.8446744073709552e19"},
      {-9223372036854775808.0, "-9.223372036854776e18"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
      {0.3, "0.3"},
      {2.0 / 3.0, "0.6666666666666666"},
      {100.0 / 3.0, "33.333333333333336"},
      {1e-5 / 3.0, "3.3333333333333337e-6"},
  };
  for (const DoubleCase& c : cases) EXPECT_EQ(serialize_json(JsonValue(c.value)), c.text) << c.text;
}

// The written form of a double, from to_chars' shortest digits and the
// layout rules, kept independent of the writer's own digit search.
std::string reference_double_text(double v) {
  std::string sign = std::signbit(v) ? "-" : "";
  v = std::fabs(v);
  if (v == 0) return sign + "0.0";
  char buf[64];
  const std::string sci(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific).ptr);
  const std::size_t e = sci.find('e');
  std::string digits = sci.substr(0, e);
  if (digits.size() > 1) digits.erase(1, 1);  // the '.'
  const int n = std::stoi(sci.substr(e + 1)) + 1;
  const int count = static_cast<int>(digits.size());
  const int k = n - count;
  if (k >= 0 && n <= 16) return sign + digits + std::string(static_cast<std::size_t>(k), '0') + ".0";
  if (n > 0 && n <= 16) return sign + digits.substr(0, static_cast<std::size_t>(n)) + "." + digits.substr(static_cast<std::size_t>(n));
  if (n > -5 && n <= 0) return sign + "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
  std::string text = sign + digits.substr(0, 1);
  if (count > 1) text += "." + digits.substr(1);
  return text + "e" + std::to_string(n - 1);
}

TEST(JsonWrite, DoublesMatchShortestDigitsAcrossMagnitudes) {
  auto next = xorshift(0x2545F4914F6CDD1Du);
  for (int i = 0; i < 200000; ++i) {
    double v = 0;
    switch (i % 4) {
      case 0:  // short decimals: few digits, a few fraction digits
        v = static_cast<double>(next() % 100000000) / json_detail::power_of_ten(static_cast<int>(next() % 23));
        break;
      case 1:  // any bit pattern that is finite
        v = std::bit_cast<double>(next());
        if (!std::isfinite(v)) continue;
        break;
      case 2:  // full-precision values around the short-decimal range
        v = static_cast<double>(next() >> 11) * 0x1.0p-53 * json_detail::power_of_ten(static_cast<int>(next() % 16));
        break;
      default:  // neighbours of short decimals
        v = std::nextafter(static_cast<double>(next() % 1000000) / 1000.0, (next() & 1) ? 1e300 : 0.0);
        break;
    }
    ASSERT_EQ(serialize_json(JsonValue(v)), reference_double_text(v)) << std::hexfloat << v;
  }
}

TEST(JsonWrite, NonFiniteDoublesFromCallersAreWrittenAsNull) {
  const JsonArray values = {JsonValue(std::numeric_limits<double>::infinity()),
                            JsonValue(-std::numeric_limits<double>::infinity()),
                            JsonValue(std::numeric_limits<double>::quiet_NaN())};
  EXPECT_EQ(serialize_json(JsonValue(values)), "[null,null,null]");
}

TEST(JsonWrite, IntegersAndLiterals) {
  EXPECT_EQ(serialize_json(JsonValue(std::uint64_t{0})), "0");
  EXPECT_EQ(serialize_json(JsonValue(std::uint64_t{10})), "10");
  EXPECT_EQ(serialize_json(JsonValue(UINT64_MAX)), "18446744073709551615");
  EXPECT_EQ(serialize_json(JsonValue(std::int64_t{-1})), "-1");
  EXPECT_EQ(serialize_json(JsonValue(std::int64_t{7})), "7");
  EXPECT_EQ(serialize_json(JsonValue(INT64_MIN)), "-9223372036854775808");
  // Every digit count, and the chunk boundaries of the integer writer.
  for (std::uint64_t v = 1, step = 0; step < 20; ++step, v *= 10) {
    for (const std::uint64_t x : {v - 1, v, v + 1, v * 3 + 7}) {
      EXPECT_EQ(serialize_json(JsonValue(x)), std::to_string(x));
      const auto negative = static_cast<std::int64_t>(x & 0x7FFFFFFFFFFFFFFF) * -1;
      EXPECT_EQ(serialize_json(JsonValue(negative)), std::to_string(negative));
    }
  }
  EXPECT_EQ(serialize_json(JsonValue()), "null");
  EXPECT_EQ(serialize_json(JsonValue(true)), "true");
  EXPECT_EQ(serialize_json(JsonValue(false)), "false");
  EXPECT_EQ(serialize_json(JsonValue(JsonArray())), "[]");
  EXPECT_EQ(serialize_json(JsonValue(JsonObject())), "{}");
}

TEST(JsonWrite, StringEscapes) {
  std::string all_controls;
  for (char c = 0; c < 0x20; ++c) all_controls += c;
  EXPECT_EQ(serialize_json(JsonValue(all_controls)),
            R"("\u0000\u0001\u0002\u0003\u0004\u0005\u0006\u0007\b\t\n\u000b\f\r\u000e\u000f)"
            R"(\u0010\u0011\u0012\u0013\u0014\u0015\u0016\u0017\u0018\u0019\u001a\u001b\u001c\u001d\u001e\u001f")");
  EXPECT_EQ(serialize_json(JsonValue("quote\" backslash\\ slash/ del\x7F")),
            "\"quote\\\" backslash\\\\ slash/ del\x7F\"");
  EXPECT_EQ(serialize_json(JsonValue("\xE2\x80\xA8\xE2\x80\xA9\xC3\xA9\xF0\x9F\x98\x80")),
            "\"\xE2\x80\xA8\xE2\x80\xA9\xC3\xA9\xF0\x9F\x98\x80\"");
  // A long string with escapes in every word the escape writer copies.
  std::string long_text;
  std::string long_expected = "\"";
  for (int i = 0; i < 5000; ++i) {
    long_text += "ab\"\n\x01";
    long_expected += "ab\\\"\\n\\u0001";
  }
  long_expected += "\"";
  EXPECT_EQ(serialize_json(JsonValue(long_text)), long_expected);
}

TEST(JsonWrite, AppendsToExistingText) {
  std::string out = "prefix:";
  serialize_json_to(JsonValue(JsonArray{JsonValue(true), JsonValue("x")}), out);
  EXPECT_EQ(out, "prefix:[true,\"x\"]");
}

// An array's text is built from its elements' texts in one reservation and
// appended to the caller's string as it is: small after large and large
// after small, each must come out whole.
TEST(JsonWrite, ArraysOfEverySizeAreBuiltAndAppendedWhole) {
  const auto array_of = [](std::size_t n) {
    JsonArray elements(n, JsonValue("a\"\xC3\xA9\n"));
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) text += i == 0 ? "\"a\\\"\xC3\xA9\\n\"" : ",\"a\\\"\xC3\xA9\\n\"";
    return std::pair{JsonValue(std::move(elements)), text + "]"};
  };
  for (const std::size_t n : {std::size_t{1}, std::size_t{200000}, std::size_t{3}, std::size_t{50000},
                              std::size_t{400000}, std::size_t{0}}) {
    const auto [value, expected] = array_of(n);
    EXPECT_EQ(serialize_json(value), expected) << n;
    std::string out = "head";
    serialize_json_to(value, out);
    serialize_json_to(value, out);
    EXPECT_EQ(out, "head" + expected + expected) << n;
  }
}

TEST(JsonObjectApi, SetReplacesAndKeepsOrder) {
  JsonObject o;
  o.set("b", JsonValue(std::uint64_t{1}));
  o.set("a", JsonValue("x"));
  o.set("\xC3\xA9", JsonValue(nullptr));
  o.set("b", JsonValue(2.5));
  EXPECT_EQ(o.size(), 3u);
  ASSERT_NE(o.find("b"), nullptr);
  EXPECT_EQ(*o.find("b")->as_double(), 2.5);
  EXPECT_EQ(o.find("c"), nullptr);
  EXPECT_EQ(serialize_json(JsonValue(o)), "{\"a\":\"x\",\"b\":2.5,\"\xC3\xA9\":null}");
  *o.find("a") = JsonValue(false);
  EXPECT_EQ(serialize_json(JsonValue(o)), "{\"a\":false,\"b\":2.5,\"\xC3\xA9\":null}");
  EXPECT_TRUE(o.erase("b"));
  EXPECT_FALSE(o.erase("b"));
  EXPECT_EQ(serialize_json(JsonValue(o)), "{\"a\":false,\"\xC3\xA9\":null}");
  // A value moved from is null, still a value.
  JsonValue text("moved");
  const JsonValue taken = std::move(text);
  EXPECT_EQ(taken, JsonValue("moved"));
  EXPECT_EQ(text.kind(), JsonValue::Kind::null);
}

}  // namespace
}  // namespace vk

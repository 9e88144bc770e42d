#include "unicode/white_space.h"

#include <string>

#include <gtest/gtest.h>

namespace vk {
namespace {

TEST(Utf8, ValidityTable) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC3\xA9", true},                // é
      {"\xE2\x80\x94", true},            // em dash
      {"\xF0\x9F\x98\x80", true},        // U+1F600
      {"\xF4\x8F\xBF\xBF", true},        // U+10FFFF
      {std::string("\0", 1), true},      // U+0000 is text
      {"\xFF", false},
      {"\xC3", false},                   // cut off
      {"\xC0\xAF", false},               // overlong "/"
      {"\xE0\x80\xAF", false},           // overlong
      {"\xED\xA0\x80", false},           // surrogate D800
      {"\xF4\x90\x80\x80", false},       // above U+10FFFF
      {"\xF0\x9F\x98", false},           // cut off
      {"a\x80", false},                  // stray continuation byte
  };
  for (const Case& c : cases) EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
}

TEST(Trim, RemovesExactlyTheUnicodeWhiteSpace) {
  const char* white[] = {"\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0",
                         "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8",
                         "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};
  for (const char* w : white) {
    const std::string padded = std::string(w) + w + "x y" + w;
    EXPECT_EQ(trim_unicode_white_space(padded), "x y") << padded;
  }
  // Look-alikes that are not white space stay.
  const char* kept[] = {"\xE2\x80\x8B" /* U+200B */, "\xEF\xBB\xBF" /* U+FEFF */,
                        "\xE1\xA0\x8E" /* U+180E */, "\x1F", "\xC2\x84"};
  for (const char* k : kept) EXPECT_EQ(trim_unicode_white_space(k), k) << k;
  EXPECT_EQ(trim_unicode_white_space(" \xE3\x80\x80 "), "");
  EXPECT_EQ(trim_unicode_white_space("\xC3\xA9 "), "\xC3\xA9");
}

}  // namespace
}  // namespace vk

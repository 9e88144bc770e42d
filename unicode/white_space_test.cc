#include "unicode/white_space.h"

#include <string>

#include <gtest/gtest.h>

namespace vk {
namespace {

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

#include "unicode/white_space.h"

#include <cstddef>
#include <cstdint>

namespace vk {
namespace {

unsigned char byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes the code point starting at `i` of valid UTF-8; sets `length`.
char32_t decode_forward(std::string_view s, std::size_t i, std::size_t& length) {
  const unsigned char lead = byte_at(s, i);
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (byte_at(s, i + k) & 0x3F);
  return c;
}

// Decodes the code point that ends just before `end` of valid UTF-8.
char32_t decode_backward(std::string_view s, std::size_t end, std::size_t& length) {
  std::size_t start = end - 1;
  while (start > 0 && is_continuation(byte_at(s, start))) --start;
  return decode_forward(s, start, length);
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const unsigned char b0 = byte_at(bytes, i);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      if (b0 == 0xE0) low = 0xA0;   // no overlong forms
      if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      if (b0 == 0xF0) low = 0x90;   // no overlong forms
      if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    const unsigned char b1 = byte_at(bytes, i + 1);
    if (b1 < low || b1 > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (!is_continuation(byte_at(bytes, i + k))) return false;
    }
    i += length;
  }
  return true;
}

bool is_unicode_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  std::size_t length = 0;
  while (begin < end && is_unicode_white_space(decode_forward(text, begin, length))) begin += length;
  while (end > begin && is_unicode_white_space(decode_backward(text, end, length))) end -= length;
  return text.substr(begin, end - begin);
}

}  // namespace vk

#include "unicode/white_space.h"

#include <cstddef>

#include "unicode/utf8.h"

namespace vk {

bool is_unicode_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  std::size_t length = 0;
  while (begin < end && is_unicode_white_space(utf8_code_point_at(text, begin, length))) begin += length;
  while (end > begin && is_unicode_white_space(utf8_code_point_before(text, end, length))) end -= length;
  return text.substr(begin, end - begin);
}

}  // namespace vk

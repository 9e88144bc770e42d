#include "unicode/utf8.h"

namespace vk {
namespace {

const unsigned char* bytes_of(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

bool is_valid_utf8(std::string_view bytes) { return is_valid_utf8(bytes_of(bytes), bytes_of(bytes) + bytes.size()); }

std::string repair_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  split_ill_formed_utf8(
      bytes_of(bytes), bytes_of(bytes) + bytes.size(),
      [&text](const unsigned char* p, const unsigned char* end) {
        text.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
      },
      [&text] { text += kReplacementCharacter; });
  return text;
}

std::size_t utf8_character_length(std::string_view text, std::size_t at) {
  std::uint64_t state = utf8_detail::kAccept;
  for (std::size_t i = at; i < text.size() && i - at < 4; ++i) {
    state = utf8_detail::next_state(state, static_cast<unsigned char>(text[i]));
    if ((state & 63) == utf8_detail::kError) return 0;
    if ((state & 63) == utf8_detail::kAccept) return i - at + 1;
  }
  return 0;
}

char32_t utf8_code_point_at(std::string_view text, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    length = 1;
    return lead;
  }
  length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t c = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
  return c;
}

char32_t utf8_code_point_before(std::string_view text, std::size_t end, std::size_t& length) {
  std::size_t start = end - 1;
  while (start > 0 && is_continuation(static_cast<unsigned char>(text[start]))) --start;
  return utf8_code_point_at(text, start, length);
}

std::optional<std::vector<std::uint16_t>> utf16_from_utf8(std::string_view bytes) {
  if (!is_valid_utf8(bytes)) return std::nullopt;
  std::vector<std::uint16_t> units;
  units.reserve(bytes.size());
  std::size_t length = 0;
  for (std::size_t at = 0; at < bytes.size(); at += length) {
    const char32_t code_point = utf8_code_point_at(bytes, at, length);
    if (code_point < 0x10000) {
      units.push_back(static_cast<std::uint16_t>(code_point));
    } else {
      const char32_t offset = code_point - 0x10000;
      units.push_back(static_cast<std::uint16_t>(0xD800 + (offset >> 10)));
      units.push_back(static_cast<std::uint16_t>(0xDC00 + (offset & 0x3FF)));
    }
  }
  return units;
}

}  // namespace vk

#include "tools/terminal_text.h"

#include <cstdio>

#include "unicode/utf8.h"

namespace vk {
namespace {

void append_escape(std::string& out, const char* format, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

}  // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead == '\\') {
      out += "\\\\";
      ++i;
      continue;
    }
    if (lead < 0x20 || lead == 0x7F) {
      append_escape(out, "\\x%02x", lead);
      ++i;
      continue;
    }
    const std::size_t length = utf8_character_length(text, i);
    if (length == 0) {
      append_escape(out, "\\x%02x", lead);
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, length);
    // U+0080 to U+009F: C1 controls, which some terminals obey.
    if (lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0) {
      append_escape(out, "\\u%04x", static_cast<unsigned char>(sequence[1]));
    } else {
      out += sequence;
    }
    i += length;
  }
  return out;
}

}  // namespace vk

// The two Unicode rules the relay applies to outside text: UTF-8 validity
// and white-space trimming (environment values and the token file).
#pragma once

#include <string_view>

namespace vk {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates,
// code points above U+10FFFF or cut-off sequences).
bool is_valid_utf8(std::string_view bytes);

// True for the code points Unicode counts as white space.
bool is_unicode_white_space(char32_t c);

// `text` (valid UTF-8) without leading and trailing Unicode white space.
std::string_view trim_unicode_white_space(std::string_view text);

}  // namespace vk

// Unicode white space, as the relay trims it from outside text (environment
// values and the token file).
#pragma once

#include <string_view>

namespace vk {

// True for the code points Unicode counts as white space.
bool is_unicode_white_space(char32_t c);

// `text` (valid UTF-8) without leading and trailing Unicode white space.
std::string_view trim_unicode_white_space(std::string_view text);

}  // namespace vk

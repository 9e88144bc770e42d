// Text read from files anyone may have written, made inert for a terminal.
#pragma once

#include <string>
#include <string_view>

namespace vk {

// `text` with every control character (C0, DEL and C1) and every byte that
// is not part of valid UTF-8 written as an escape (\x1b, \u009b), and "\"
// doubled so that no escape is ambiguous; everything else as it is.
std::string printable(std::string_view text);

}  // namespace vk

// UTF-8 checks and repair for text crossing the bridge.
#pragma once

#include <string>
#include <string_view>

namespace vk::biometric {

// True when `bytes` is well-formed UTF-8 (no surrogates, no overlongs).
bool isWellFormedUtf8(std::string_view bytes);

// `bytes` with each maximal ill-formed subpart replaced by U+FFFD, as the
// Unicode Standard recommends; well-formed input comes back unchanged.
std::string repairUtf8(std::string_view bytes);

}  // namespace vk::biometric

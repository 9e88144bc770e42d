// UTF-8 checks and repair for text crossing the bridge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk::biometric {

// True when `bytes` is well-formed UTF-8 (no surrogates, no overlongs).
bool isWellFormedUtf8(std::string_view bytes);

// `bytes` with each maximal ill-formed subpart replaced by U+FFFD, as the
// Unicode Standard recommends; well-formed input comes back unchanged.
std::string repairUtf8(std::string_view bytes);

// The UTF-16 code units of well-formed UTF-8 `bytes`, every code point kept
// (a leading U+FEFF too, which decoders of byte streams drop as a byte-order
// mark); absent when `bytes` is ill-formed.
std::optional<std::vector<std::uint16_t>> utf16FromUtf8(std::string_view bytes);

}  // namespace vk::biometric

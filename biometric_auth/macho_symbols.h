// The symbols a Mach-O binary (macOS executable or dynamic library)
// exports, read from its symbol table: what the export check judges on
// macOS, where there is no ELF dynamic symbol table.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vk::biometric {

// True when `bytes` begin like a 64-bit little-endian Mach-O file or a
// universal file holding such slices.
bool looksLikeMachO(std::span<const char> bytes);

// The names of the external symbols defined in the file (every slice of a
// universal file), without the leading underscore the C compiler adds;
// none when the file is not a readable 64-bit Mach-O file.
std::optional<std::vector<std::string>> machOExportedSymbols(std::span<const char> bytes);

}  // namespace vk::biometric

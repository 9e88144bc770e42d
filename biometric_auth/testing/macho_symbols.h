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

// One architecture's image: its name ("arm64", "x86_64", or the CPU type
// in hexadecimal) and the names of the external symbols it defines, without
// the leading underscore the C compiler adds.
struct MachOSlice {
  std::string architecture;
  std::vector<std::string> exported;

  bool operator==(const MachOSlice&) const = default;
};

// Every slice of the file: one for a thin file, each of a universal file's
// in order. Each is judged on its own, since a symbol one architecture
// lacks is missing there whatever the other exports. None when the file is
// not a readable 64-bit Mach-O file.
std::optional<std::vector<MachOSlice>> machOSlices(std::span<const char> bytes);

}  // namespace vk::biometric

#include "biometric_auth/testing/macho_symbols.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace vk::biometric {
namespace {

// Layout of the Mach-O file format (Apple's "OS X ABI Mach-O File Format
// Reference"): the values and field offsets this reader needs. Written out
// here so that the reader builds and is tested on any system.
constexpr std::uint32_t kMachMagic64 = 0xfeedfacf;  // mach_header_64, little-endian
constexpr std::uint32_t kFatMagic = 0xcafebabe;     // fat_header, stored big-endian
constexpr std::uint64_t kMachHeader64Size = 32;
constexpr std::uint64_t kFatHeaderSize = 8;
constexpr std::uint64_t kFatArchSize = 20;
constexpr std::uint32_t kLoadCommandSymtab = 0x2;
constexpr std::uint64_t kNlist64Size = 16;
constexpr std::uint32_t kCpuTypeX86_64 = 0x01000007;
constexpr std::uint32_t kCpuTypeArm64 = 0x0100000c;

// n_type bits of an nlist_64 entry.
constexpr std::uint8_t kTypeStab = 0xe0;
constexpr std::uint8_t kTypePrivateExternal = 0x10;
constexpr std::uint8_t kTypeMask = 0x0e;
constexpr std::uint8_t kTypeExternal = 0x01;
constexpr std::uint8_t kTypeUndefined = 0x0;
constexpr std::uint8_t kTypePreboundUndefined = 0xc;

std::optional<std::uint32_t> littleEndian32(std::span<const char> bytes, std::uint64_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::uint64_t>(i)]);
  }
  return value;
}

std::optional<std::uint32_t> bigEndian32(std::span<const char> bytes, std::uint64_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  std::uint32_t value = 0;
  for (std::uint64_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string architectureName(std::uint32_t cpuType) {
  if (cpuType == kCpuTypeArm64) return "arm64";
  if (cpuType == kCpuTypeX86_64) return "x86_64";
  char digits[8];
  const auto written = std::to_chars(std::begin(digits), std::end(digits), cpuType, 16);
  return "cputype 0x" + std::string(std::begin(digits), written.ptr);
}

// The architecture and defined external symbols of one 64-bit Mach-O image.
std::optional<MachOSlice> readThinImage(std::span<const char> image) {
  if (littleEndian32(image, 0) != kMachMagic64) return std::nullopt;
  const auto cpuType = littleEndian32(image, 4);
  const auto commands = littleEndian32(image, 16);
  if (!cpuType || !commands) return std::nullopt;
  MachOSlice slice{architectureName(*cpuType), {}};
  std::vector<std::string>& names = slice.exported;
  std::uint64_t at = kMachHeader64Size;
  for (std::uint32_t i = 0; i < *commands; ++i) {
    const auto command = littleEndian32(image, at);
    const auto size = littleEndian32(image, at + 4);
    if (!command || !size || *size < 8) return std::nullopt;
    if (*command == kLoadCommandSymtab) {
      const auto symbols = littleEndian32(image, at + 8);
      const auto count = littleEndian32(image, at + 12);
      const auto strings = littleEndian32(image, at + 16);
      const auto stringsSize = littleEndian32(image, at + 20);
      if (!symbols || !count || !strings || !stringsSize) return std::nullopt;
      if (*strings > image.size() || image.size() - *strings < *stringsSize) return std::nullopt;
      if (*symbols > image.size() || (image.size() - *symbols) / kNlist64Size < *count) {
        return std::nullopt;
      }
      for (std::uint32_t s = 0; s < *count; ++s) {
        const std::uint64_t entry = *symbols + s * kNlist64Size;
        const std::uint32_t nameAt = *littleEndian32(image, entry);
        const auto type = static_cast<std::uint8_t>(image[entry + 4]);
        const std::uint8_t kind = type & kTypeMask;
        if ((type & kTypeStab) != 0 || (type & kTypeExternal) == 0 ||
            (type & kTypePrivateExternal) != 0 || kind == kTypeUndefined ||
            kind == kTypePreboundUndefined) {
          continue;
        }
        if (nameAt >= *stringsSize) return std::nullopt;
        const char* start = image.data() + *strings + nameAt;
        std::string name(start, strnlen(start, *stringsSize - nameAt));
        // C and C++ names carry one leading underscore in Mach-O.
        if (!name.empty() && name.front() == '_') name.erase(0, 1);
        names.push_back(std::move(name));
      }
    }
    at += *size;
  }
  return slice;
}

}  // namespace

bool looksLikeMachO(std::span<const char> bytes) {
  return littleEndian32(bytes, 0) == kMachMagic64 || bigEndian32(bytes, 0) == kFatMagic;
}

std::optional<std::vector<MachOSlice>> machOSlices(std::span<const char> bytes) {
  std::vector<MachOSlice> slices;
  if (bigEndian32(bytes, 0) != kFatMagic) {
    auto slice = readThinImage(bytes);
    if (!slice) return std::nullopt;
    slices.push_back(std::move(*slice));
    return slices;
  }
  const auto count = bigEndian32(bytes, 4);
  if (!count) return std::nullopt;
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::uint64_t arch = kFatHeaderSize + i * kFatArchSize;
    const auto offset = bigEndian32(bytes, arch + 8);
    const auto size = bigEndian32(bytes, arch + 12);
    if (!offset || !size || *offset > bytes.size() || bytes.size() - *offset < *size) {
      return std::nullopt;
    }
    auto slice = readThinImage(bytes.subspan(*offset, *size));
    if (!slice) return std::nullopt;
    slices.push_back(std::move(*slice));
  }
  return slices;
}

}  // namespace vk::biometric

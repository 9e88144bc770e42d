#include "biometric_auth/testing/macho_symbols.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vk::biometric {
namespace {

// nlist_64 n_type values.
constexpr std::uint8_t kExt = 0x01;
constexpr std::uint8_t kPrivateExt = 0x10;
constexpr std::uint8_t kUndefined = 0x0;
constexpr std::uint8_t kAbsolute = 0x2;
constexpr std::uint8_t kPrebound = 0xc;
constexpr std::uint8_t kSection = 0xe;
constexpr std::uint8_t kStabFunction = 0x24;

struct Symbol {
  std::string name;
  std::uint8_t type;
};

void put32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void put32BigEndian(std::string& out, std::uint32_t value) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A 64-bit Mach-O executable image: a UUID load command the reader must
// step over, then the symbol table, the entries and their names.
constexpr std::uint32_t kArm64 = 0x0100000c;
constexpr std::uint32_t kX86_64 = 0x01000007;

std::string thinImage(const std::vector<Symbol>& symbols, std::uint32_t cpuType = kArm64) {
  constexpr std::uint32_t kCommandsSize = 24 + 24;
  const std::uint32_t symbolsAt = 32 + kCommandsSize;
  std::string names(1, '\0');
  std::string entries;
  for (const Symbol& symbol : symbols) {
    put32(entries, static_cast<std::uint32_t>(names.size()));
    entries.push_back(static_cast<char>(symbol.type));
    entries.push_back(1);                      // n_sect
    entries.append(2, '\0');                   // n_desc
    entries.append(8, '\0');                   // n_value
    names += symbol.name;
    names.push_back('\0');
  }
  std::string image;
  put32(image, 0xfeedfacf);  // magic
  put32(image, cpuType);
  put32(image, 0);  // cpusubtype
  put32(image, 2);           // MH_EXECUTE
  put32(image, 2);           // ncmds
  put32(image, kCommandsSize);
  put32(image, 0);  // flags
  put32(image, 0);  // reserved
  put32(image, 0x1b);  // LC_UUID
  put32(image, 24);
  image.append(16, '\x5a');
  put32(image, 0x2);  // LC_SYMTAB
  put32(image, 24);
  put32(image, symbolsAt);
  put32(image, static_cast<std::uint32_t>(symbols.size()));
  put32(image, symbolsAt + static_cast<std::uint32_t>(entries.size()));
  put32(image, static_cast<std::uint32_t>(names.size()));
  return image + entries + names;
}

// A universal file holding `slices` one after the other.
std::string universalFile(const std::vector<std::string>& slices) {
  std::string header;
  put32BigEndian(header, 0xcafebabe);
  put32BigEndian(header, static_cast<std::uint32_t>(slices.size()));
  std::uint32_t offset = 8 + 20 * static_cast<std::uint32_t>(slices.size());
  std::string body;
  for (const std::string& slice : slices) {
    put32BigEndian(header, 0x0100000c);
    put32BigEndian(header, 0);
    put32BigEndian(header, offset);
    put32BigEndian(header, static_cast<std::uint32_t>(slice.size()));
    put32BigEndian(header, 3);
    body += slice;
    offset += static_cast<std::uint32_t>(slice.size());
  }
  return header + body;
}

std::optional<std::vector<MachOSlice>> slices(const std::string& file) {
  return machOSlices(std::span<const char>(file.data(), file.size()));
}

TEST(MachOSymbols, OnlyDefinedExternalSymbolsCountAsExported) {
  const std::vector<Symbol> symbols = {
      {"_biometric_is_available", kSection | kExt},
      {"__ZN2vk9biometric6helperEv", kSection | kExt},  // C++: one underscore more
      {"_absolute_value", kAbsolute | kExt},
      {"_local_helper", kSection},
      {"_hidden_by_the_export_list", kSection | kExt | kPrivateExt},
      {"_free", kUndefined | kExt},
      {"_bound_elsewhere", kPrebound | kExt},
      {"_debug_entry", kStabFunction | kExt},
  };
  const std::string image = thinImage(symbols);
  EXPECT_TRUE(looksLikeMachO(std::span<const char>(image.data(), image.size())));
  EXPECT_EQ(slices(image),
            (std::vector<MachOSlice>{{"arm64",
                                      {"biometric_is_available", "_ZN2vk9biometric6helperEv",
                                       "absolute_value"}}}));
}

// A symbol one slice lacks must show as missing there, whatever the others
// export.
TEST(MachOSymbols, EachSliceOfAUniversalFileIsReadOnItsOwn) {
  const std::string file = universalFile(
      {thinImage({{"_biometric_free_string", kSection | kExt}, {"_x86_only", kSection | kExt}},
                 kX86_64),
       thinImage({{"_arm_only", kSection | kExt}, {"_arm_local", kSection}}),
       thinImage({}, 0x01000012)});
  EXPECT_TRUE(looksLikeMachO(std::span<const char>(file.data(), file.size())));
  EXPECT_EQ(slices(file), (std::vector<MachOSlice>{{"x86_64", {"biometric_free_string", "x86_only"}},
                                                   {"arm64", {"arm_only"}},
                                                   {"cputype 0x1000012", {}}}));
}

TEST(MachOSymbols, UnreadableFilesGiveNoSymbolsRatherThanAPartialList) {
  const std::string good = thinImage({{"_biometric_free_string", kSection | kExt}});
  std::string commandTooShort = good;
  commandTooShort[32 + 4] = 4;  // LC_UUID's cmdsize below the 8-byte minimum
  std::string symbolsPastTheEnd = good;
  symbolsPastTheEnd[32 + 24 + 12] = 100;  // nsyms far beyond the file
  std::string namePastItsTable = good;
  namePastItsTable[32 + 48] = 90;  // n_strx of the one entry
  std::string sliceOutsideTheFile = universalFile({good});
  sliceOutsideTheFile[8 + 12] = 0x7f;  // the slice's size, high byte first
  std::string thirtyTwoBit = good;
  thirtyTwoBit[0] = static_cast<char>(0xce);  // 0xfeedface

  const struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"empty", ""},
      {"truncated header", good.substr(0, 20)},
      {"truncated load commands", good.substr(0, 60)},
      {"load command shorter than its header", commandTooShort},
      {"symbol table past the end", symbolsPastTheEnd},
      {"name past the string table", namePastItsTable},
      {"slice outside the file", sliceOutsideTheFile},
      {"32-bit image", thirtyTwoBit},
      {"ELF file", std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(60, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(slices(c.file), std::nullopt) << c.what;
  }
  EXPECT_FALSE(looksLikeMachO(std::span<const char>(thirtyTwoBit.data(), thirtyTwoBit.size())));
}

}  // namespace
}  // namespace vk::biometric

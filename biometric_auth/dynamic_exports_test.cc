// Reads the exported symbols of a binary (the bridge's shared library or
// the executable) and checks that the six C functions are exported and that
// nothing else of ours is: the ELF dynamic symbol table on Linux, the
// Mach-O symbol table on macOS.
//
// Usage: dynamic_exports_test <binary>. Exit 0 pass, 1 fail, 77 skipped
// (not a binary format this system builds).
#include <cxxabi.h>

#if __has_include(<elf.h>)
#include <elf.h>
#define VK_HAVE_ELF 1
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "biometric_auth/testing/macho_symbols.h"

namespace {

const std::set<std::string> kBridgeFunctions = {
    "biometric_is_available",      "biometric_authenticate",    "biometric_store_keychain",
    "biometric_retrieve_keychain", "biometric_delete_keychain", "biometric_free_string"};

// Symbols the toolchain's start files and linker define in every binary
// (Mach-O names without their leading underscore).
const std::set<std::string> kToolchainSymbols = {
    "_IO_stdin_used", "__data_start", "data_start", "_edata", "_end", "__bss_start",
    "_init",          "_fini",        "__dso_handle", "_mh_execute_header", "_mh_dylib_header"};

// Prefixes of sanitizer runtimes linked into the binary.
const std::vector<std::string_view> kRuntimePrefixes = {
    "__asan", "__ubsan", "__lsan", "__sanitizer", "__interceptor_", "___interceptor_",
    "__sancov"};

struct DynamicSymbol {
  std::string name;
  bool versioned;  // bound to a library's version, e.g. a copy of stderr@GLIBC (ELF only)
};

#if defined(VK_HAVE_ELF)
template <class T>
std::optional<T> readAt(const std::vector<char>& bytes, std::uint64_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// The defined symbols of the dynamic symbol table, or none when the file is
// not an ELF binary of this machine's class.
template <class Ehdr, class Shdr, class Sym>
std::optional<std::vector<DynamicSymbol>> definedDynamicSymbols(const std::vector<char>& bytes) {
  const auto header = readAt<Ehdr>(bytes, 0);
  if (!header) return std::nullopt;
  std::vector<Shdr> sections;
  for (std::uint64_t i = 0; i < header->e_shnum; ++i) {
    const auto section = readAt<Shdr>(bytes, header->e_shoff + i * header->e_shentsize);
    if (!section) return std::nullopt;
    sections.push_back(*section);
  }
  const auto findType = [&](std::uint32_t type) -> const Shdr* {
    for (const Shdr& section : sections) {
      if (section.sh_type == type) return &section;
    }
    return nullptr;
  };
  const Shdr* symbols = findType(SHT_DYNSYM);
  if (symbols == nullptr || symbols->sh_link >= sections.size()) return std::nullopt;
  const Shdr& names = sections[symbols->sh_link];
  const Shdr* versions = findType(SHT_GNU_versym);

  std::vector<DynamicSymbol> defined;
  const std::uint64_t count = symbols->sh_size / sizeof(Sym);
  for (std::uint64_t i = 1; i < count; ++i) {
    const auto symbol = readAt<Sym>(bytes, symbols->sh_offset + i * sizeof(Sym));
    if (!symbol) return std::nullopt;
    if (symbol->st_shndx == SHN_UNDEF) continue;
    if (symbol->st_name >= names.sh_size) return std::nullopt;
    const char* start = bytes.data() + names.sh_offset + symbol->st_name;
    const std::size_t room = static_cast<std::size_t>(names.sh_size - symbol->st_name);
    std::string name(start, strnlen(start, room));
    bool versioned = false;
    if (versions != nullptr) {
      const auto index = readAt<std::uint16_t>(bytes, versions->sh_offset + i * 2);
      versioned = index && (*index & 0x7fff) > 1;
    }
    defined.push_back({std::move(name), versioned});
  }
  return defined;
}
#endif

std::string demangled(const std::string& name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> text(
      abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
  return status == 0 && text ? std::string(text.get()) : name;
}

bool startsWithAny(std::string_view name, const std::vector<std::string_view>& prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](std::string_view prefix) { return name.starts_with(prefix); });
}

// A symbol that can only come from this project's code.
bool namesOurCode(const std::string& name) {
  const std::string readable = demangled(name);
  return name.starts_with("biometric_") || name.starts_with("vk_") ||
         readable.find("vk::") != std::string::npos ||
         readable.find("(anonymous namespace)") != std::string::npos;
}

// A C++ standard library instantiation the linker exports from an executable
// so that the shared C++ runtime binds to the executable's copy.
bool fromStandardLibrary(const std::string& name) {
  static const std::vector<std::string_view> prefixes = {
      "_ZNSt", "_ZNKSt", "_ZSt", "_ZNSs", "_ZNKSs", "_ZNSa", "_ZNSi", "_ZNSo", "_ZNSd",
      "_ZN9__gnu_cxx", "_ZNK9__gnu_cxx", "_ZN10__cxxabiv1", "_ZTVSt", "_ZTISt", "_ZTSSt",
      "_ZTVNSt", "_ZTINSt", "_ZTSNSt", "_ZTVN9__gnu_cxx", "_ZTIN9__gnu_cxx", "_ZTSN9__gnu_cxx",
      "_ZZNSt", "_ZZNKSt", "_ZGVZNSt", "_ZGVNSt", "_Znw", "_Zna", "_Zdl", "_Zda"};
  return startsWithAny(name, prefixes);
}

// The failures of one symbol table: a bridge function not exported, or
// something of ours exported that should not be. `where` prefixes each line
// (a universal file's slice).
int judge(const std::vector<DynamicSymbol>& symbols, const std::string& where,
          bool sanitizerRuntime) {
  std::set<std::string> found;
  std::set<std::string> unexpected;
  for (const DynamicSymbol& symbol : symbols) {
    if (kBridgeFunctions.count(symbol.name) != 0) {
      found.insert(symbol.name);
      continue;
    }
    if (symbol.versioned || kToolchainSymbols.count(symbol.name) != 0 ||
        startsWithAny(symbol.name, kRuntimePrefixes)) {
      continue;
    }
    const bool ours = namesOurCode(symbol.name) ||
                      (!sanitizerRuntime && !fromStandardLibrary(symbol.name));
    if (ours) unexpected.insert(symbol.name);
  }

  int failures = 0;
  for (const std::string& name : kBridgeFunctions) {
    if (found.count(name) == 0) {
      std::fprintf(stderr, "%snot exported: %s\n", where.c_str(), name.c_str());
      ++failures;
    }
  }
  for (const std::string& name : unexpected) {
    std::fprintf(stderr, "%sexported but should not be: %s\n", where.c_str(),
                 demangled(name).c_str());
    ++failures;
  }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <binary>\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  // One table per architecture: an ELF file has one, a universal Mach-O
  // file one per slice.
  std::vector<std::pair<std::string, std::vector<DynamicSymbol>>> tables;
#if defined(VK_HAVE_ELF)
  if (bytes.size() >= EI_NIDENT && std::memcmp(bytes.data(), ELFMAG, SELFMAG) == 0) {
    auto symbols = bytes[EI_CLASS] == ELFCLASS64
                       ? definedDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(bytes)
                       : definedDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(bytes);
    if (!symbols) {
      std::fprintf(stderr, "%s: no readable dynamic symbol table\n", argv[1]);
      return 1;
    }
    tables.emplace_back("", std::move(*symbols));
  }
#endif
  if (tables.empty() && vk::biometric::looksLikeMachO(bytes)) {
    const auto slices = vk::biometric::machOSlices(bytes);
    if (!slices) {
      std::fprintf(stderr, "%s: no readable Mach-O symbol table\n", argv[1]);
      return 1;
    }
    for (const vk::biometric::MachOSlice& slice : *slices) {
      std::vector<DynamicSymbol> symbols;
      for (const std::string& name : slice.exported) symbols.push_back({name, false});
      tables.emplace_back(slices->size() > 1 ? "[" + slice.architecture + "] " : "",
                          std::move(symbols));
    }
  }
  if (tables.empty()) {
    std::printf("SKIP: %s is not a binary this system builds\n", argv[1]);
    return 77;
  }

  // A sanitizer runtime exports the C library's names it intercepts; then
  // only symbols that are plainly ours can be judged.
  bool sanitizerRuntime = false;
  for (const auto& table : tables) {
    sanitizerRuntime = sanitizerRuntime ||
                       std::any_of(table.second.begin(), table.second.end(), [](const DynamicSymbol& s) {
                         return s.name.starts_with("__asan_init");
                       });
  }
  int failures = 0;
  for (const auto& [where, symbols] : tables) failures += judge(symbols, where, sanitizerRuntime);
  if (failures != 0) return 1;
  std::printf("%s exports exactly the six bridge functions%s%s\n", argv[1],
              tables.size() > 1 ? " from every slice" : "",
              sanitizerRuntime ? " (sanitizer runtime symbols ignored)" : "");
  return 0;
}

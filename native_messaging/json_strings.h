// Byte-level string scanning shared by the JSON reader and writer: runs of
// bytes that need no attention, UTF-8 sequences, and the written escapes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vk::json_detail {

using Byte = unsigned char;

inline constexpr std::uint64_t kOnes = 0x0101010101010101u;
inline constexpr std::uint64_t kHighs = 0x8080808080808080u;

// High bit set in each byte of `w` equal to `c`; the lowest flagged byte is
// always a true match (borrows only run upward from one).
constexpr std::uint64_t bytes_equal(std::uint64_t w, Byte c) {
  const std::uint64_t x = w ^ (kOnes * c);
  return (x - kOnes) & ~x;
}

// Same for bytes below 0x20.
constexpr std::uint64_t bytes_control(std::uint64_t w) { return (w - kOnes * 0x20) & ~w; }

inline std::uint64_t load8(const void* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Whether the eight bytes of `w` (little-endian) are all ASCII digits.
constexpr bool eight_digits(std::uint64_t w) {
  return ((w & 0xF0F0F0F0F0F0F0F0u) | (((w + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) ==
         0x3333333333333333u;
}

// The value of eight ASCII digits loaded little-endian, first digit most
// significant.
constexpr std::uint64_t eight_digits_value(std::uint64_t w) {
  w -= 0x3030303030303030u;
  w = (w * 10) + (w >> 8);
  return (((w & 0x000000FF000000FFu) * 0x000F424000000064u) +
          (((w >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
         32;
}

// The first byte at or after `p` that is a quotation mark, a backslash, a
// control byte or non-ASCII; `end` when there is none. Reads nothing at or
// past `end`.
inline const Byte* skip_plain_string_bytes(const Byte* p, const Byte* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      const std::uint64_t w = load8(p);
      const std::uint64_t m = (bytes_equal(w, '"') | bytes_equal(w, '\\') | bytes_control(w) | w) & kHighs;
      if (m != 0) return p + (std::countr_zero(m) >> 3);
      p += 8;
    }
  }
  while (p != end && *p != '"' && *p != '\\' && *p >= 0x20 && *p < 0x80) ++p;
  return p;
}

// Like skip_plain_string_bytes, copying the bytes skipped to `w` as it goes;
// `w` must have room for as many bytes as remain before `end`. Returns the
// first byte not skipped and advances `w` past the bytes copied.
inline const Byte* copy_plain_string_bytes(const Byte* p, const Byte* end, char*& w) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      const std::uint64_t x = load8(p);
      std::memcpy(w, &x, sizeof x);
      const std::uint64_t m = (bytes_equal(x, '"') | bytes_equal(x, '\\') | bytes_control(x) | x) & kHighs;
      if (m != 0) {
        const int k = std::countr_zero(m) >> 3;
        w += k;
        return p + k;
      }
      p += 8;
      w += 8;
    }
  }
  while (p != end && *p != '"' && *p != '\\' && *p >= 0x20 && *p < 0x80) *w++ = static_cast<char>(*p++);
  return p;
}

// Length of the well-formed UTF-8 sequence starting at `p` (a byte at or
// above 0x80); when it is not one, clears `valid` and returns 1.
inline std::size_t utf8_sequence_length(const Byte* p, const Byte* end, bool& valid) {
  const Byte c = *p;
  Byte low = 0x80;
  Byte high = 0xBF;
  std::size_t n;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;        // overlong
    if (c == 0xED) high = 0x9F;       // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;        // overlong
    if (c == 0xF4) high = 0x8F;       // above U+10FFFF
  } else {
    valid = false;
    return 1;
  }
  if (static_cast<std::size_t>(end - p) < n || p[1] < low || p[1] > high) {
    valid = false;
    return 1;
  }
  for (std::size_t i = 2; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      valid = false;
      return 1;
    }
  }
  return n;
}

// The written form of each byte that is escaped (length 0: written raw).
struct Escape {
  char text[6];
  std::uint8_t length;
};

inline constexpr auto kEscapes = [] {
  struct Table {
    Escape entries[256];
  } table{};
  constexpr char kHex[] = "0123456789abcdef";
  for (int c = 0; c < 0x20; ++c) {
    table.entries[c] = {{'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]}, 6};
  }
  const auto two = [&](unsigned char c, char e) { table.entries[c] = {{'\\', e}, 2}; };
  two('"', '"');
  two('\\', '\\');
  two('\b', 'b');
  two('\t', 't');
  two('\n', 'n');
  two('\f', 'f');
  two('\r', 'r');
  return table;
}();

// Writes [p, end) with the JSON escapes at `w` (room for 6 bytes per input
// byte) and returns the end of what was written.
inline char* write_escaped(char* w, const char* p, const char* end) {
  for (;;) {
    // Whole words are stored as they are scanned; what follows the first
    // escaped byte is overwritten afterwards.
    if constexpr (std::endian::native == std::endian::little) {
      while (end - p >= 8) {
        const std::uint64_t x = load8(p);
        std::memcpy(w, &x, sizeof x);
        const std::uint64_t m = (bytes_equal(x, '"') | bytes_equal(x, '\\') | bytes_control(x)) & kHighs;
        if (m != 0) {
          const int k = std::countr_zero(m) >> 3;
          p += k;
          w += k;
          break;
        }
        p += 8;
        w += 8;
      }
    }
    while (p != end && kEscapes.entries[static_cast<Byte>(*p)].length == 0) *w++ = *p++;
    if (p == end) return w;
    const Escape& e = kEscapes.entries[static_cast<Byte>(*p++)];
    std::memcpy(w, e.text, sizeof e.text);
    w += e.length;
  }
}

}  // namespace vk::json_detail

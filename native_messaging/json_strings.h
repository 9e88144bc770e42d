// Strings at the byte level, shared by the parser, the constructors and the
// readers of compact text: runs of bytes that need no attention, the escapes
// written, and compact string content read back one character at a time
// (key order is declared here and defined in json.cc). UTF-8 is checked and
// repaired by unicode/utf8.h.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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
// High bit set in each byte of `w` that ends a plain run inside a string:
// a quotation mark, a backslash or a control byte.
constexpr std::uint64_t string_stop_bytes(std::uint64_t w) {
  return (bytes_equal(w, '"') | bytes_equal(w, '\\') | bytes_control(w)) & kHighs;
}

inline std::uint64_t load8(const void* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// How many of the bytes of `w` (little-endian), from the first, are ASCII
// digits before the first that is not; 8 when all are.
inline int leading_digits(std::uint64_t w) {
  // A nibble is non-zero in each byte that is not a digit; a carry out of
  // the addition only disturbs bytes after such a byte.
  const std::uint64_t other = ((w & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u) |
                              (((w + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) ^ 0x3030303030303030u);
  return other == 0 ? 8 : std::countr_zero(other) >> 3;
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

// The first byte at or after `p` that is a quotation mark, a backslash or a
// control byte; `end` when there is none. Reads nothing at or past `end`.
// Bytes at or above 0x80 are skipped like any other; the bytes skipped are
// ORed into `seen`, so that UTF-8 is validated only where it occurs.
inline const Byte* skip_string_bytes(const Byte* p, const Byte* end, std::uint64_t& seen) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      const std::uint64_t w = load8(p);
      const std::uint64_t m = string_stop_bytes(w);
      if (m != 0) {
        const int k = std::countr_zero(m) >> 3;
        seen |= w & ((std::uint64_t{1} << (k * 8)) - 1);
        return p + k;
      }
      seen |= w;
      p += 8;
    }
  }
  while (p != end && *p != '"' && *p != '\\' && *p >= 0x20) seen |= *p++;
  return p;
}

// Like skip_string_bytes, copying the bytes skipped to `w` as it goes; `w`
// must have room for as many bytes as remain before `end`. Returns the
// first byte not skipped and advances `w` past the bytes copied. Each word
// is loaded before it is stored, so `w` may also lie in the same buffer at
// least eight bytes below `p`.
template <class Out>
const Byte* copy_string_bytes(const Byte* p, const Byte* end, Out*& w, std::uint64_t& seen) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      const std::uint64_t x = load8(p);
      std::memcpy(w, &x, sizeof x);
      const std::uint64_t m = string_stop_bytes(x);
      if (m != 0) {
        const int k = std::countr_zero(m) >> 3;
        seen |= x & ((std::uint64_t{1} << (k * 8)) - 1);
        w += k;
        return p + k;
      }
      seen |= x;
      p += 8;
      w += 8;
    }
  }
  while (p != end && *p != '"' && *p != '\\' && *p >= 0x20) {
    seen |= *p;
    *w++ = static_cast<Out>(*p++);
  }
  return p;
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

// Writes [p, end) with the JSON escapes at `w` and returns the end of what
// was written. Up to 8 bytes past that end may be stored to as well.
inline char* write_escaped(char* w, const char* p, const char* end) {
  // The bytes that end a plain run are exactly those the table escapes.
  const auto* in = reinterpret_cast<const Byte*>(p);
  const auto* in_end = reinterpret_cast<const Byte*>(end);
  std::uint64_t seen = 0;  // not needed here
  for (;;) {
    in = copy_string_bytes(in, in_end, w, seen);
    if (in == in_end) return w;
    const Escape& e = kEscapes.entries[*in++];
    std::memcpy(w, e.text, sizeof e.text);
    w += e.length;
  }
}

// ---------------------------------------------------------------------------
// Compact string content: the bytes between the quotation marks of a string
// as this library writes it. Each character has exactly one written form
// there, and each escape stands for one byte: a backslash and one byte, or
// \u00 and two lower-case hexadecimal digits.

inline constexpr Byte hex_digit_value(Byte c) { return static_cast<Byte>(c <= '9' ? c - '0' : c - 'a' + 10); }

// The byte that the written form at `p` stands for; advances `p` past it.
inline Byte next_content_byte(const char*& p) {
  const auto c = static_cast<Byte>(p[0]);
  if (c != '\\') {
    ++p;
    return c;
  }
  const auto e = static_cast<Byte>(p[1]);
  p += 2;
  switch (e) {
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'u':
      p += 4;
      return static_cast<Byte>((hex_digit_value(static_cast<Byte>(p[-2])) << 4) |
                               hex_digit_value(static_cast<Byte>(p[-1])));
    default:  // '"' or '\\'
      return e;
  }
}

// Byte order of the characters of two compact contents, the order of
// object keys, found without decoding them aside (json.cc). Out of line:
// sorting reaches it only for keys whose first eight bytes are equal.
int compare_compact_content(std::string_view a, std::string_view b);

// The first eight bytes of `key` as a big-endian number, zero-padded:
// ordered as the keys are wherever it differs.
inline std::uint64_t key_prefix(std::string_view key) {
  const std::size_t n = std::min<std::size_t>(key.size(), 8);
  std::uint64_t prefix = 0;
  for (std::size_t i = 0; i < n; ++i) prefix = (prefix << 8) | static_cast<Byte>(key[i]);
  // Assembled in a register: partial stores then one load would stall.
  if (n == 0 || n == 8) return prefix;
  return prefix << (8 * (8 - n));
}

// The same for compact string content, decoded as it is read (json.cc; out
// of line, for keys with escapes only).
std::uint64_t compact_key_prefix(std::string_view content);

}  // namespace vk::json_detail

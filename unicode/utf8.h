// UTF-8: whether bytes are well-formed, their repair, their characters and
// their UTF-16 form. The one definition of well-formed UTF-8 for the relay,
// the JSON text and the bridge alike: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF, no cut-off sequence (U+0000 is text).
// The checks on raw bytes are inline: the JSON parser and writer run them
// on every string with a byte above 0x7F.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vk {

// What stands for each ill-formed part of repaired text: U+FFFD.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

namespace utf8_detail {

// UTF-8 as a shift-based automaton: each state is a bit offset into the
// 64-bit row of the next byte, where the following state is stored. The
// dependency between bytes is then one shift, not a chain of branches.
inline constexpr unsigned kError = 0;  // rows hold 0 where a byte is not allowed
inline constexpr unsigned kAccept = 6;
inline constexpr unsigned kOneMore = 12;    // one continuation byte to come
inline constexpr unsigned kTwoMore = 18;
inline constexpr unsigned kThreeMore = 24;
inline constexpr unsigned kAfterE0 = 30;    // A0–BF, else overlong
inline constexpr unsigned kAfterED = 36;    // 80–9F, else a surrogate
inline constexpr unsigned kAfterF0 = 42;    // 90–BF, else overlong
inline constexpr unsigned kAfterF4 = 48;    // 80–8F, else above U+10FFFF

inline constexpr auto kRows = [] {
  struct Table {
    std::uint64_t rows[256];
  } table{};
  const auto on = [&](int first, int last, unsigned from, unsigned to) {
    for (int b = first; b <= last; ++b) table.rows[b] |= std::uint64_t{to} << from;
  };
  on(0x00, 0x7F, kAccept, kAccept);
  on(0xC2, 0xDF, kAccept, kOneMore);
  on(0xE0, 0xE0, kAccept, kAfterE0);
  on(0xE1, 0xEC, kAccept, kTwoMore);
  on(0xED, 0xED, kAccept, kAfterED);
  on(0xEE, 0xEF, kAccept, kTwoMore);
  on(0xF0, 0xF0, kAccept, kAfterF0);
  on(0xF1, 0xF3, kAccept, kThreeMore);
  on(0xF4, 0xF4, kAccept, kAfterF4);
  on(0x80, 0xBF, kOneMore, kAccept);
  on(0x80, 0xBF, kTwoMore, kOneMore);
  on(0x80, 0xBF, kThreeMore, kTwoMore);
  on(0xA0, 0xBF, kAfterE0, kOneMore);
  on(0x80, 0x9F, kAfterED, kOneMore);
  on(0x90, 0xBF, kAfterF0, kTwoMore);
  on(0x80, 0x8F, kAfterF4, kTwoMore);
  return table;
}();

// The state after byte `b` in state `state`.
inline std::uint64_t next_state(std::uint64_t state, unsigned char b) { return kRows.rows[b] >> (state & 63); }

inline bool all_ascii8(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return (w & 0x8080808080808080u) == 0;
}

}  // namespace utf8_detail

// Whether [p, end) is well-formed UTF-8.
inline bool is_valid_utf8(const unsigned char* p, const unsigned char* end) {
  using namespace utf8_detail;
  std::uint64_t state = kAccept;
  // A short run goes through the automaton whole: fewer branches to guess.
  if (end - p < 32) {
    for (; p != end; ++p) state = next_state(state, *p);
    return (state & 63) == kAccept;
  }
  for (;;) {
    // Between characters, ASCII is passed over a word at a time; the
    // automaton takes the rest eight bytes at a time.
    if ((state & 63) == kAccept) {
      while (end - p >= 8 && all_ascii8(p)) p += 8;
    }
    const unsigned char* const stop = end - p > 8 ? p + 8 : end;
    if (p == stop) break;
    for (; p != stop; ++p) state = next_state(state, *p);
  }
  return (state & 63) == kAccept;
}

// Whether `bytes` is well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

// Calls run(first, last) for each stretch of well-formed UTF-8 in [p, end)
// and bad() for each ill-formed part between them, in order. An ill-formed
// part is a maximal subpart as the Unicode standard defines it: the longest
// start of a well-formed sequence that is cut off, or else one byte. That is
// what a replacement character stands for in the usual repair (the one the
// WHATWG decoder of browsers makes). Stretches may be empty.
template <class Run, class Bad>
void split_ill_formed_utf8(const unsigned char* p, const unsigned char* end, Run&& run, Bad&& bad) {
  using namespace utf8_detail;
  const unsigned char* stretch = p;    // where the current well-formed stretch began
  const unsigned char* character = p;  // where the character being read began
  std::uint64_t state = kAccept;
  while (p != end) {
    const std::uint64_t next = next_state(state, *p);
    if ((next & 63) != kError) {
      state = next;
      ++p;
      if ((state & 63) == kAccept) character = p;
      continue;
    }
    run(stretch, character);
    bad();
    // A byte that cannot continue the cut-off sequence may begin the next
    // character; a byte that cannot begin one is the ill-formed part itself.
    if (character == p) ++p;
    stretch = character = p;
    state = kAccept;
  }
  run(stretch, character);
  if (character != end) {
    bad();
    run(end, end);
  }
}

// `bytes` with each ill-formed part (as split_ill_formed_utf8 finds them)
// replaced by U+FFFD; well-formed input comes back unchanged.
std::string repair_utf8(std::string_view bytes);

// The length of the well-formed character that starts at `at` of `text`
// (1 to 4), or 0 when none starts there.
std::size_t utf8_character_length(std::string_view text, std::size_t at);

// The code point of the character that starts at `at` of well-formed
// `text`; sets `length` to its length.
char32_t utf8_code_point_at(std::string_view text, std::size_t at, std::size_t& length);

// The code point of the character that ends just before `end` of
// well-formed `text`; sets `length` to its length.
char32_t utf8_code_point_before(std::string_view text, std::size_t end, std::size_t& length);

// The UTF-16 code units of well-formed UTF-8 `bytes`, every code point kept
// (a leading U+FEFF too, which decoders of byte streams drop as a byte-order
// mark); absent when `bytes` is ill-formed.
std::optional<std::vector<std::uint16_t>> utf16_from_utf8(std::string_view bytes);

}  // namespace vk

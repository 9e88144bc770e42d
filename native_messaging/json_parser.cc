// parse_json: JSON text rewritten, in one pass, into the compact text a
// JsonValue holds, in the buffer the text arrived in (json.cc begins with a
// map of the engine's files). In order: the messages and tables of the text
// rules; JsonParser, whose comment states the conditions of the rewrite,
// then its parts (errors and positions; writing into the buffer; values;
// numbers; strings; arrays and objects; sorting members); the entry points.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/json_numbers.h"
#include "native_messaging/json_strings.h"
#include "unicode/utf8.h"

// The conditions of the rewrite (see JsonParser) are checked in debug and
// sanitizer builds, which define VK_JSON_CHECKS; elsewhere a check compiles
// to nothing, its condition not even evaluated.
#if defined(VK_JSON_CHECKS)
#define VK_JSON_CHECK(condition) ((condition) ? static_cast<void>(0) : ::vk::json_check_failed(#condition, __LINE__))
#else
#define VK_JSON_CHECK(condition) static_cast<void>(sizeof(condition))
#endif

namespace vk {
namespace {

using Byte = unsigned char;

#if defined(VK_JSON_CHECKS)
// Names the failed condition and stops: the buffer can no longer be trusted.
[[noreturn]] void json_check_failed(const char* condition, int line) {
  std::fprintf(stderr, "json_parser.cc:%d: condition of the in-place rewrite failed: %s\n", line, condition);
  std::abort();
}
#endif

// ---------------------------------------------------------------------------
// The text rules' messages and tables

constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kExpectedColon = "expected `:`";
constexpr const char* kExpectedListComma = "expected `,` or `]`";
constexpr const char* kExpectedObjectComma = "expected `,` or `}`";
constexpr const char* kExpectedIdent = "expected ident";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kInvalidEscape = "invalid escape";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kNumberOutOfRange = "number out of range";
constexpr const char* kInvalidCodePoint = "invalid unicode code point";
constexpr const char* kControlCharacter = "control character (\\u0000-\\u001F) found while parsing a string";
constexpr const char* kKeyMustBeString = "key must be a string";
constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr const char* kTrailingComma = "trailing comma";
constexpr const char* kTrailingCharacters = "trailing characters";
constexpr const char* kUnexpectedEndOfEscape = "unexpected end of hex escape";
constexpr const char* kRecursionLimit = "recursion limit exceeded";

// Each '[' or '{' on the current path takes one unit; reaching 0 fails.
constexpr int kNestingBudget = 128;

// The digit that would make the significand leave 64 bits: S > kCutS, or
// S == kCutS and d > 5.
constexpr std::uint64_t kCutS = 1844674407370955161u;

// 10^i for the length of a run of digits shorter than a word.
constexpr std::uint64_t kSmallPowers[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

bool is_digit(Byte c) { return static_cast<Byte>(c - '0') < 10; }

bool is_whitespace(Byte c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Value of each hexadecimal digit; 0x10000 for any other byte, which stays
// above 0xFFFF however it is shifted into a unit.
constexpr auto kHexValues = [] {
  struct Table {
    std::uint32_t value[256];
  } table{};
  for (auto& v : table.value) v = 0x10000;
  for (int c = 0; c < 10; ++c) table.value['0' + c] = static_cast<std::uint32_t>(c);
  for (int c = 0; c < 6; ++c) {
    table.value['a' + c] = static_cast<std::uint32_t>(10 + c);
    table.value['A' + c] = static_cast<std::uint32_t>(10 + c);
  }
  return table;
}();

// What each one-letter escape is written as: itself, except the slash,
// which needs none; length 0 for the letters that are no such escape.
struct ShortEscape {
  char text[2];
  std::uint8_t length;
};

constexpr auto kShortEscapes = [] {
  struct Table {
    ShortEscape entries[256];
  } table{};
  for (const char c : {'"', '\\', 'b', 'f', 'n', 'r', 't'}) table.entries[static_cast<Byte>(c)] = {{'\\', c}, 2};
  table.entries[Byte{'/'}] = {{'/', '/'}, 1};
  return table;
}();

// Writes the UTF-8 of code point `cp` (never a surrogate) at `w`.
Byte* put_utf8(Byte* w, std::uint32_t cp) {
  if (cp < 0x80) {
    *w++ = static_cast<Byte>(cp);
  } else if (cp < 0x800) {
    *w++ = static_cast<Byte>(0xC0 | (cp >> 6));
    *w++ = static_cast<Byte>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = static_cast<Byte>(0xE0 | (cp >> 12));
    *w++ = static_cast<Byte>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<Byte>(0x80 | (cp & 0x3F));
  } else {
    *w++ = static_cast<Byte>(0xF0 | (cp >> 18));
    *w++ = static_cast<Byte>(0x80 | ((cp >> 12) & 0x3F));
    *w++ = static_cast<Byte>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<Byte>(0x80 | (cp & 0x3F));
  }
  return w;
}

// Where a member of the object being read was written: the offsets of its
// key's quotation marks, and the key's leading bytes.
struct MemberMark {
  std::size_t key;
  std::size_t key_end;
  std::uint64_t prefix;
};

// A member's place in the object being sorted, with its key's leading bytes.
struct SortKey {
  std::uint64_t prefix;
  std::size_t index;
};

}  // namespace

// Recursive descent that writes the compact text as it reads, into the
// buffer it reads from. The buffer holds, in order: the text written so far
// [base_, w_), spent input [w_, cur_), and the input still to be read
// [cur_, end_). The rewrite rests on these conditions, each checked
// (VK_JSON_CHECK) where it is relied on:
//
//  1. Output never overtakes input: w_ <= cur_ whenever a step ends, and no
//     byte is stored at or above cur_. Every token's compact form is at
//     most as long as its input: whitespace is dropped, and an escape is
//     never longer than the escape read (a \uXXXX escape becomes at most six
//     bytes, a pair of them four). Numbers are the exception (1e15 becomes
//     1000000000000000.0): put_number writes one straight into the buffer
//     only where 32 bytes are spent, the most write_double and write_digits
//     store; otherwise make_room first moves the unread input up.
//  2. Stores past the end returned land on spent bytes: put_input stores a
//     whole 16-byte block when 16 bytes are spent and 16 can be loaded
//     before end_; copy_string_bytes stores whole 8-byte words, at least 8
//     bytes below what it copies; a one-letter escape stores both its bytes
//     (it read two); number writers store up to 32 bytes (json_numbers.h).
//  3. Copies within the buffer go downward: a token is copied from at or
//     after where it goes. Where source and destination are closer than the
//     copy is long, everything is loaded before it is stored (copy_short,
//     put_input's block, copy_string_bytes' words) or memmove copies.
//  4. Error positions name the input as it was: the `inspected_` bytes
//     before `error_at_` (at most the four digits of a \u escape), which
//     may hold line feeds not yet counted, were still unread when the
//     failing step began, so nothing has been written over them; and they
//     lie at or after the last move of the unread input, whose distance
//     (moved_) original() subtracts. Line feeds elsewhere can stand only in
//     whitespace, which counts them as it skips them.
//  5. Each object member is written key, ':', value, and members are
//     separated by exactly one comma, so a member's text ends one byte before
//     the next member's key. sort_members relies on it to cut the members
//     out of the object's text (marks_ holds where each key was written); it
//     copies that text aside (spare_) and writes the members back in key
//     order, so that copy never overlaps.
//  6. Capacity: a buffer given json_parse_capacity() of its text rarely
//     grows; when it must, make_room grows it by at least as much as the
//     input has moved before, so text of many lengthened numbers is moved
//     only a few times.
class JsonParser {
 public:
  explicit JsonParser(std::string text) : buf_(std::move(text)) {
    base_ = reinterpret_cast<Byte*>(buf_.data());
    cur_ = base_;
    end_ = base_ + buf_.size();
    w_ = base_;
  }
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;

  Result<JsonValue, JsonParseError> run() {
    if (parse_value()) {
      skip_whitespace();
      if (cur_ == end_) {
        buf_.resize(static_cast<std::size_t>(w_ - base_));
        return JsonValue(JsonValue::CompactText{}, std::move(buf_));
      }
      fail(kTrailingCharacters, cur_ + 1);
    }
    return error();
  }

 private:
  // -------------------------------------------------------------------------
  // Errors and positions, and whitespace, which counts the line feeds

  // Records the error; `past` is one past the byte it is reported at, and
  // the `inspected` bytes before it, still unread when the failing step
  // began, are the ones that may hold line feeds not yet counted.
  bool fail(const char* message, const Byte* past, std::size_t inspected = 1) {
    message_ = message;
    error_at_ = past;
    inspected_ = inspected;
    return false;
  }

  bool fail_at_end(const char* message) { return fail(message, end_, 0); }

  // Offset in the input as it was of buffer position `p`, which is at or
  // after the last move of the unread bytes.
  std::size_t original(const Byte* p) const {
    VK_JSON_CHECK(static_cast<std::size_t>(p - base_) >= moved_);
    return static_cast<std::size_t>(p - base_) - moved_;
  }

  JsonParseError error() const {
    JsonParseError e;
    e.message = message_;
    std::uint64_t line = 1 + line_feeds_;
    std::size_t line_start = line_start_;
    VK_JSON_CHECK(error_at_ - inspected_ >= w_ && error_at_ <= end_);
    for (const Byte* p = error_at_ - inspected_; p < error_at_; ++p) {
      if (*p == '\n') {
        ++line;
        line_start = original(p + 1);
      }
    }
    e.line = line;
    e.column = original(error_at_) - line_start;
    return e;
  }

  void skip_whitespace() {
    // Compact text has none: settle that with one test.
    if (cur_ != end_ && *cur_ > ' ') return;
    while (cur_ != end_ && is_whitespace(*cur_)) {
      if (*cur_ == '\n') {
        ++line_feeds_;
        line_start_ = original(cur_ + 1);
      }
      ++cur_;
    }
  }

  // -------------------------------------------------------------------------
  // Writing into the buffer: bytes, input copied as it is, numbers

  std::size_t written() const { return static_cast<std::size_t>(w_ - base_); }

  void put(Byte c) {
    VK_JSON_CHECK(w_ < cur_);
    *w_++ = c;
  }

  // Writes the `n` input bytes at `from` (at or after w_, and before cur_)
  // as they are. The bytes between w_ and cur_ are spent, so a short token
  // is stored as one 16-byte block where that much room is free.
  void put_input(const Byte* from, std::size_t n) {
    VK_JSON_CHECK(from >= w_ && from + n <= cur_);
    if (from != w_) {
      if (n <= 16 && cur_ - w_ >= 16 && end_ - from >= 16) {
        const std::uint64_t head = json_detail::load8(from);
        const std::uint64_t tail = json_detail::load8(from + 8);
        std::memcpy(w_, &head, 8);
        std::memcpy(w_ + 8, &tail, 8);
      } else {
        copy_down(w_, from, n);
      }
    }
    w_ += n;
  }

  // Makes room for `n` bytes of output at w_ below the unread input, moving
  // that input further up when the gap between them is too small. The gap
  // grows by at least what it has grown before, so that text of many
  // lengthened numbers is moved only a few times.
  void make_room(std::size_t n) {
    const auto gap = static_cast<std::size_t>(cur_ - w_);
    if (gap >= n) return;
    const auto unread = static_cast<std::size_t>(end_ - cur_);
    // Capacity the buffer has already is used before any is added.
    const std::size_t spare = buf_.capacity() - buf_.size();
    const std::size_t more =
        spare >= n - gap ? spare : std::max({n - gap, unread / 16, moved_, std::size_t{4096}});
    const std::size_t w = written();
    const auto cur = static_cast<std::size_t>(cur_ - base_);
    buf_.resize(buf_.size() + more);
    base_ = reinterpret_cast<Byte*>(buf_.data());
    std::memmove(base_ + cur + more, base_ + cur, unread);
    moved_ += more;
    w_ = base_ + w;
    cur_ = base_ + cur + more;
    end_ = base_ + buf_.size();
    VK_JSON_CHECK(static_cast<std::size_t>(cur_ - w_) >= n);
  }

  // Writes a number's text made by `write` (which needs room for 32 bytes
  // and may be longer than the input): straight below the unread input
  // where that much room is spent, else aside first. This and put_double
  // are always inlined: the compiler's budget for this file would
  // otherwise leave doubles a call (3 to 5% of the numbers payload's
  // throughput).
  template <class Write>
  [[gnu::always_inline]] void put_number(Write&& write) {
    if (cur_ - w_ >= 32) {
      w_ = reinterpret_cast<Byte*>(write(reinterpret_cast<char*>(w_)));
      VK_JSON_CHECK(w_ <= cur_);
      return;
    }
    char text[32];
    const auto n = static_cast<std::size_t>(write(text) - text);
    VK_JSON_CHECK(n <= sizeof text);
    make_room(n);
    copy_short(w_, reinterpret_cast<const Byte*>(text), n);
    w_ += n;
  }

  [[gnu::always_inline]] void put_double(double d) {
    put_number([d](char* p) { return json_detail::write_double(p, d); });
  }

  // Stores exactly the `n` bytes at `from` (at or after `w`) at `w`. Short
  // runs are loaded whole before they are stored, which makes the overlap
  // safe without a call.
  static void copy_down(Byte* w, const Byte* from, std::size_t n) {
    if (from == w) return;
    if (n > 32) {
      std::memmove(w, from, n);
    } else {
      copy_short(w, from, n);
    }
  }

  // The same for n <= 32.
  static void copy_short(Byte* w, const Byte* from, std::size_t n) {
    if (n < 8) {
      for (std::size_t i = 0; i < n; ++i) w[i] = from[i];
    } else if (n <= 16) {
      const std::uint64_t head = json_detail::load8(from);
      const std::uint64_t tail = json_detail::load8(from + n - 8);
      std::memcpy(w, &head, 8);
      std::memcpy(w + n - 8, &tail, 8);
    } else {
      std::uint64_t head[2];
      std::uint64_t tail[2];
      std::memcpy(head, from, 16);
      std::memcpy(tail, from + n - 16, 16);
      std::memcpy(w, head, 16);
      std::memcpy(w + n - 16, tail, 16);
    }
  }

  // -------------------------------------------------------------------------
  // Values and literals

  // An array element, which whitespace skipping has reached: numbers, the
  // common scalar, are read without another call.
  bool parse_element() {
    if (cur_ != end_ && (is_digit(*cur_) || *cur_ == '-')) return parse_number();
    return parse_value();
  }

  bool parse_value() {
    VK_JSON_CHECK(w_ <= cur_);
    skip_whitespace();
    if (cur_ == end_) return fail_at_end(kEofValue);
    switch (*cur_) {
      case '"': {
        bool escaped = false;
        return parse_string(escaped);
      }
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        return parse_number();
      case '[':
        return parse_array();
      case '{':
        return parse_object();
      case 'n':
        return parse_literal("null");
      case 't':
        return parse_literal("true");
      case 'f':
        return parse_literal("false");
      default:
        return fail(kExpectedValue, cur_ + 1);
    }
  }

  // The literal `word` whose first byte is at cur_, checked byte by byte.
  bool parse_literal(const char* word) {
    const Byte* start = cur_;
    ++cur_;
    for (const char* rest = word + 1; *rest != '\0'; ++rest, ++cur_) {
      if (cur_ == end_) return fail_at_end(kEofValue);
      if (*cur_ != static_cast<Byte>(*rest)) return fail(kExpectedIdent, cur_ + 1);
    }
    put_input(start, static_cast<std::size_t>(cur_ - start));
    return true;
  }

  // -------------------------------------------------------------------------
  // Numbers

  // Takes digits at cur_ into s while fewer than 19 are taken, up to eight
  // at a time where the input allows: a run shorter than a word is taken
  // whole too, so the number's length costs no mispredicted loop exit.
  void take_digits(std::uint64_t& s, int& taken) {
    if constexpr (std::endian::native == std::endian::little) {
      while (taken <= 11 && end_ - cur_ >= 8) {
        const std::uint64_t w = json_detail::load8(cur_);
        const int run = json_detail::leading_digits(w);
        if (run == 8) {
          s = s * 100000000 + json_detail::eight_digits_value(w);
          taken += 8;
          cur_ += 8;
          continue;
        }
        if (run != 0 && taken + run <= 19) {
          // The run moved to the word's last digits, '0's before it.
          const auto shift = static_cast<unsigned>(8 * (8 - run));
          const std::uint64_t padded = (w << shift) | (0x3030303030303030u >> (8 * run));
          s = s * kSmallPowers[run] + json_detail::eight_digits_value(padded);
          taken += run;
          cur_ += run;
        }
        break;
      }
    }
    while (taken < 19 && cur_ != end_ && is_digit(*cur_)) {
      s = s * 10 + static_cast<std::uint64_t>(*cur_++ - '0');
      ++taken;
    }
  }

  // The digits at `p`, up to the first other byte; most numbers are short.
  const Byte* skip_digits(const Byte* p) const {
    if (p == end_ || !is_digit(*p)) return p;
    if constexpr (std::endian::native == std::endian::little) {
      for (int run = 8; run == 8 && end_ - p >= 8; p += run) run = json_detail::leading_digits(json_detail::load8(p));
    }
    while (p != end_ && is_digit(*p)) ++p;
    return p;
  }

  // The common numbers need only a scan. Integers that keep their kind are
  // written as they were read (the grammar allows no leading zeros). A
  // double of at most 15 significant digits times a power of ten that is
  // exact (10^-22 to 10^22) is the correctly rounded one, and those digits
  // are its shortest: it is written from them without converting.
  // Everything else, errors included, is left to parse_any_number.
  bool parse_number() {
    const bool negative = *cur_ == '-';
    const Byte* const integer = cur_ + negative;
    if (integer == end_ || !is_digit(*integer)) return parse_any_number();
    const Byte* const p = *integer == '0' ? integer + 1 : skip_digits(integer + 1);
    if (p != end_ && (*p == '.' || *p == 'e' || *p == 'E')) return parse_short_decimal(negative, integer, p);
    // Zero ("-0" is a double) and errors are left to the general reading.
    if (*integer == '0') return parse_any_number();
    // Up to 18 digits always fit.
    if (p - integer > 18) return parse_long_integer(negative, integer, p);
    const Byte* const start = cur_;
    cur_ = p;
    put_input(start, static_cast<std::size_t>(p - start));
    return true;
  }

  // An integer of 19 digits or more, [integer, end), which keeps its kind
  // when it is at most the largest one of that kind.
  [[gnu::noinline]] bool parse_long_integer(bool negative, const Byte* integer, const Byte* end) {
    const auto count = static_cast<std::size_t>(end - integer);
    const std::string_view largest = negative ? "9223372036854775808" : "18446744073709551615";
    if (count > largest.size() || (count == largest.size() && std::memcmp(integer, largest.data(), count) > 0)) {
      return parse_any_number();
    }
    const Byte* const start = cur_;
    cur_ = end;
    put_input(start, static_cast<std::size_t>(end - start));
    return true;
  }

  // A number with a fraction or an exponent whose integer digits are
  // [integer, integer_end). Kept out of line, so that integers stay cheap.
  [[gnu::noinline]] bool parse_short_decimal(bool negative, const Byte* integer, const Byte* integer_end) {
    const Byte* p = integer_end;
    const Byte* fraction = p;
    if (*p == '.') {
      fraction = ++p;
      if (p == end_ || !is_digit(*p)) return parse_any_number();
      p = skip_digits(p);
    }
    const Byte* const fraction_end = p;
    int exponent = 0;
    if (p != end_ && (*p == 'e' || *p == 'E')) {
      ++p;
      const bool exponent_negative = p != end_ && *p == '-';
      if (p != end_ && (*p == '+' || *p == '-')) ++p;
      const Byte* const first = p;
      for (; p != end_ && is_digit(*p); ++p) {
        if (p - first == 4) return parse_any_number();
        exponent = exponent * 10 + (*p - '0');
      }
      if (p == first) return parse_any_number();
      if (exponent_negative) exponent = -exponent;
    }
    const std::int64_t e = std::int64_t{exponent} - (fraction_end - fraction);
    if (e < -22 || e > 22) return parse_any_number();
    // The significant digits: the integer's and the fraction's, or when the
    // integer is 0, the fraction's past its leading zeros.
    const bool zero_integer = *integer == '0';
    const Byte* significant = fraction;
    if (zero_integer) {
      while (significant != fraction_end && *significant == '0') ++significant;
    }
    const auto integer_digits = zero_integer ? 0 : static_cast<int>(integer_end - integer);
    const int count = integer_digits + static_cast<int>(fraction_end - significant);
    if (count == 0 || count > 15) return parse_any_number();  // zero, or too many digits
    const Byte* const start = integer - negative;
    cur_ = p;
    // A plain decimal as people write it (12.75, 0.05) is already in its
    // written form.
    if (p == fraction_end && fraction_end[-1] != '0' && (!zero_integer || significant - fraction < 5)) {
      put_input(start, static_cast<std::size_t>(p - start));
      return true;
    }
    char digits[16];
    for (int i = 0; i < integer_digits; ++i) digits[i] = static_cast<char>(integer[i]);
    for (int i = integer_digits; i < count; ++i) digits[i] = static_cast<char>(significant[i - integer_digits]);
    put_number([&](char* out) { return json_detail::write_digits(out, negative, digits, count, static_cast<int>(e)); });
    return true;
  }

  // Any number, with its significand and exponent gathered as the text
  // rules have it.
  [[gnu::noinline]] bool parse_any_number() {
    const Byte* const start = cur_;
    const bool negative = *cur_ == '-';
    if (negative) {
      ++cur_;
      if (cur_ == end_) return fail_at_end(kEofValue);
      if (!is_digit(*cur_)) return fail(kInvalidNumber, cur_ + 1);
    }
    std::uint64_t s = 0;
    std::int64_t e = 0;  // kept wider than 32 bits while counting, saturated below
    // Digits taken into s so far: s < 10^taken, so while taken < 19 the
    // next digit always fits and needs no cut-off test.
    int taken = 0;
    bool integer_cut = false;
    if (*cur_ == '0') {
      ++cur_;
      taken = 1;
      if (cur_ != end_ && is_digit(*cur_)) return fail(kInvalidNumber, cur_ + 1);
    } else {
      take_digits(s, taken);
      while (cur_ != end_ && is_digit(*cur_)) {
        const auto d = static_cast<std::uint64_t>(*cur_ - '0');
        if (integer_cut || s > kCutS || (s == kCutS && d > 5)) {
          integer_cut = true;
          ++e;
        } else {
          s = s * 10 + d;
        }
        ++cur_;
      }
    }
    const bool has_fraction = cur_ != end_ && *cur_ == '.';
    if (has_fraction) {
      ++cur_;
      if (cur_ == end_) return fail_at_end(kEofValue);
      if (!is_digit(*cur_)) return fail(kInvalidNumber, cur_ + 1);
      const int before = taken;
      take_digits(s, taken);
      e -= taken - before;
      bool fraction_cut = false;
      while (cur_ != end_ && is_digit(*cur_)) {
        const auto d = static_cast<std::uint64_t>(*cur_ - '0');
        if (!fraction_cut && (s < kCutS || (s == kCutS && d <= 5))) {
          s = s * 10 + d;
          --e;
        } else {
          fraction_cut = true;
        }
        ++cur_;
      }
    }
    const bool has_exponent = cur_ != end_ && (*cur_ == 'e' || *cur_ == 'E');
    if (has_exponent) {
      ++cur_;
      bool exponent_negative = false;
      if (cur_ != end_ && (*cur_ == '+' || *cur_ == '-')) {
        exponent_negative = *cur_ == '-';
        ++cur_;
      }
      if (cur_ == end_) return fail_at_end(kEofValue);
      if (!is_digit(*cur_)) return fail(kInvalidNumber, cur_ + 1);
      std::int64_t x = 0;
      while (cur_ != end_ && is_digit(*cur_)) {
        x = x * 10 + (*cur_ - '0');
        if (x > 2147483647) {
          if (s != 0 && !exponent_negative) return fail(kNumberOutOfRange, cur_ + 1);
          while (cur_ != end_ && is_digit(*cur_)) ++cur_;
          put_double(negative ? -0.0 : 0.0);
          return true;
        }
        ++cur_;
      }
      e = exponent_negative ? e - x : e + x;
    }
    if (!has_fraction && !has_exponent && !integer_cut) {
      // Integers that keep their kind are written as they were read: the
      // grammar allows no leading zeros.
      if (!negative || (s != 0 && s <= 9223372036854775808u)) {
        put_input(start, static_cast<std::size_t>(cur_ - start));
      } else {
        put_double(s == 0 ? -0.0 : -static_cast<double>(s));
      }
      return true;
    }
    e = std::clamp<std::int64_t>(e, INT32_MIN, INT32_MAX);
    double f = 0;
    if (!json_detail::decimal_to_double(s, static_cast<std::int32_t>(e), f)) return fail(kNumberOutOfRange, cur_);
    put_double(negative ? -f : f);
    return true;
  }

  // -------------------------------------------------------------------------
  // Strings and their escapes

  // The string whose opening quotation mark is at cur_, written in its
  // compact form; `escaped` tells whether it had escapes. UTF-8 is checked
  // once the string is closed, where its error is reported, so the scan
  // stops only at the bytes JSON escapes. The positions are kept in locals
  // here: the bytes written could alias the members, not the locals.
  bool parse_string(bool& escaped) {
    const Byte* const end = end_;
    const Byte* p = cur_ + 1;
    Byte* w = w_;
    *w++ = '"';
    // An escape stands for whole characters and never for a continuation
    // byte, so the content is well formed exactly when each run of raw
    // bytes between escapes is by itself.
    bool well_formed = true;
    for (;;) {
      Byte* const run = w;
      std::uint64_t seen = 0;
      const auto gap = p - w;
      if (gap == 0) {
        // Written where it stands: nothing to copy.
        p = json_detail::skip_string_bytes(p, end, seen);
        w += p - run;
      } else if (gap >= 8) {
        p = json_detail::copy_string_bytes(p, end, w, seen);
      } else {
        const Byte* const from = p;
        p = json_detail::skip_string_bytes(p, end, seen);
        copy_down(w, from, static_cast<std::size_t>(p - from));
        w += p - from;
      }
      if (p == end) return fail_at_end(kEofString);
      if ((seen & json_detail::kHighs) != 0 && !is_valid_utf8(run, w)) well_formed = false;
      if (*p == '"') break;
      // On failure w_ is brought up to date, for error() to check against.
      if (*p != '\\') {
        w_ = w;
        return fail(kControlCharacter, p + 1);
      }
      escaped = true;
      if (!parse_escape(p, w)) {
        w_ = w;
        return false;
      }
    }
    ++p;
    if (!well_formed) {
      w_ = w;
      return fail(kInvalidCodePoint, p);
    }
    *w++ = '"';
    VK_JSON_CHECK(w <= p);
    cur_ = p;
    w_ = w;
    return true;
  }

  // One escape at `p` (the backslash), written at `w` in its compact form,
  // which is never longer than the escape.
  bool parse_escape(const Byte*& p, Byte*& w) {
    const Byte* const end = end_;
    const Byte* const read_from = p;
    Byte* const written_from = w;
    VK_JSON_CHECK(written_from <= read_from);
    ++p;
    if (p == end) return fail_at_end(kEofString);
    const Byte c = *p++;
    // Both bytes are stored whatever the length: the escape read had two.
    if (const ShortEscape& escape = kShortEscapes.entries[c]; escape.length != 0) {
      std::memcpy(w, escape.text, 2);
      w += escape.length;
      VK_JSON_CHECK(written_from + 2 <= p);
      return true;
    }
    if (c != 'u') return fail(kInvalidEscape, p);
    std::uint32_t unit = 0;
    if (!parse_hex4(p, unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(kLoneSurrogate, p);
    if (unit < 0xD800 || unit > 0xDFFF) {
      const json_detail::Escape& escape = json_detail::kEscapes.entries[unit < 0x80 ? unit : 0x80];
      if (escape.length != 0) {
        std::memcpy(w, escape.text, escape.length);
        w += escape.length;
      } else {
        w = put_utf8(w, unit);
      }
      VK_JSON_CHECK(w - written_from <= p - read_from);
      return true;
    }
    for (const Byte expected : {Byte{'\\'}, Byte{'u'}}) {
      if (p == end) return fail_at_end(kEofString);
      if (*p != expected) return fail(kUnexpectedEndOfEscape, p + 1);
      ++p;
    }
    std::uint32_t low = 0;
    if (!parse_hex4(p, low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) return fail(kLoneSurrogate, p);
    w = put_utf8(w, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    VK_JSON_CHECK(w - written_from <= p - read_from);
    return true;
  }

  // Four hexadecimal digits at `p`; leaves `p` past them.
  bool parse_hex4(const Byte*& p, std::uint32_t& unit) {
    // Fewer than four bytes are left; they are inspected for line feeds.
    if (end_ - p < 4) return fail(kEofString, end_, static_cast<std::size_t>(end_ - p));
    const std::uint32_t value = (kHexValues.value[p[0]] << 12) | (kHexValues.value[p[1]] << 8) |
                                (kHexValues.value[p[2]] << 4) | kHexValues.value[p[3]];
    p += 4;
    if (value > 0xFFFF) return fail(kInvalidEscape, p, 4);
    unit = value;
    return true;
  }

  // -------------------------------------------------------------------------
  // Arrays and objects

  bool enter(const Byte* bracket) {
    if (--budget_ == 0) return fail(kRecursionLimit, bracket + 1);
    return true;
  }

  bool parse_array() {
    if (!enter(cur_)) return false;
    ++cur_;
    put('[');
    skip_whitespace();
    if (cur_ == end_) return fail_at_end(kEofList);
    if (*cur_ != ']') {
      for (;;) {
        if (!parse_element()) return false;
        skip_whitespace();
        if (cur_ == end_) return fail_at_end(kEofList);
        const Byte c = *cur_;
        if (c == ']') break;
        ++cur_;
        if (c != ',') return fail(kExpectedListComma, cur_);
        put(',');
        skip_whitespace();
        if (cur_ != end_ && *cur_ == ']') return fail(kTrailingComma, cur_ + 1);
      }
    }
    ++cur_;
    put(']');
    ++budget_;
    return true;
  }

  bool parse_object() {
    if (!enter(cur_)) return false;
    ++cur_;
    put('{');
    const std::size_t content = written();
    skip_whitespace();
    if (cur_ == end_) return fail_at_end(kEofObject);
    if (*cur_ != '}') {
      if (*cur_ != '"') return fail(kKeyMustBeString, cur_ + 1);
      const std::size_t base = marks_.size();
      for (;;) {
        const std::size_t key = written();
        bool escaped = false;
        if (!parse_string(escaped)) return false;
        const std::string_view content_text(reinterpret_cast<const char*>(base_) + key + 1, written() - key - 2);
        marks_.push_back({key, written() - 1, escaped ? json_detail::compact_key_prefix(content_text) : plain_key_prefix(content_text)});
        skip_whitespace();
        if (cur_ == end_) return fail_at_end(kEofObject);
        if (*cur_ != ':') return fail(kExpectedColon, cur_ + 1);
        ++cur_;
        put(':');
        if (!parse_value()) return false;
        skip_whitespace();
        if (cur_ == end_) return fail_at_end(kEofObject);
        const Byte c = *cur_;
        if (c == '}') break;
        ++cur_;
        if (c != ',') return fail(kExpectedObjectComma, cur_);
        put(',');
        skip_whitespace();
        if (cur_ == end_) return fail_at_end(kEofValue);
        if (*cur_ == '}') return fail(kTrailingComma, cur_ + 1);
        if (*cur_ != '"') return fail(kKeyMustBeString, cur_ + 1);
      }
      sort_members(base, content);
    }
    ++cur_;
    put('}');
    ++budget_;
    return true;
  }

  // -------------------------------------------------------------------------
  // Sorting members: keys compared by their first eight bytes, then whole

  // key_prefix for a key just written without escapes: one load where the
  // buffer holds eight bytes from its start.
  std::uint64_t plain_key_prefix(std::string_view key) const {
    const auto* first = reinterpret_cast<const Byte*>(key.data());
    if (end_ - first < 8) return json_detail::key_prefix(key);
    std::uint64_t word = json_detail::load8(first);
    if constexpr (std::endian::native == std::endian::little) {
      // To big-endian order (compilers make this one instruction).
      word = ((word & 0x00000000FFFFFFFFu) << 32) | ((word & 0xFFFFFFFF00000000u) >> 32);
      word = ((word & 0x0000FFFF0000FFFFu) << 16) | ((word & 0xFFFF0000FFFF0000u) >> 16);
      word = ((word & 0x00FF00FF00FF00FFu) << 8) | ((word & 0xFF00FF00FF00FF00u) >> 8);
    }
    if (key.size() >= 8) return word;
    return key.empty() ? 0 : word & (~std::uint64_t{0} << (8 * (8 - key.size())));
  }

  std::string_view key_of(const MemberMark& m) const {
    return std::string_view(reinterpret_cast<const char*>(base_) + m.key + 1, m.key_end - m.key - 1);
  }

  // Byte order of keys. Keys mostly differ in their first eight bytes;
  // settle that without a call.
  bool key_less(const MemberMark& x, const MemberMark& y) const {
    if (x.prefix != y.prefix) return x.prefix < y.prefix;
    return json_detail::compare_compact_content(key_of(x), key_of(y)) < 0;
  }

  // Puts the members written since mark `base` (the object's text begins
  // at `content`) in key order; of equal keys the one read last is kept.
  void sort_members(std::size_t base, std::size_t content) {
    const std::size_t n = marks_.size() - base;
    const MemberMark* m = marks_.data() + base;
    // Senders that sort their keys, this writer included, need no sorting.
    std::size_t ascending = 1;
    while (ascending < n && key_less(m[ascending - 1], m[ascending])) ++ascending;
    if (ascending >= n) {
      marks_.resize(base);
      return;
    }
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = {m[i].prefix, i};
    auto less = [this, m](const SortKey& a, const SortKey& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return json_detail::compare_compact_content(key_of(m[a.index]), key_of(m[b.index])) < 0;
    };
    if (n <= 16) {
      // Insertion sort is stable and cheap for the usual small object.
      for (std::size_t i = 1; i < n; ++i) {
        const SortKey v = order_[i];
        std::size_t j = i;
        while (j > 0 && less(v, order_[j - 1])) {
          order_[j] = order_[j - 1];
          --j;
        }
        order_[j] = v;
      }
    } else {
      std::stable_sort(order_.begin(), order_.end(), less);
    }
    // Of equal keys, now adjacent, the last read is kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 1 == n || less(order_[i], order_[i + 1])) order_[kept++] = order_[i];
    }
    // The members are copied aside and written back in order.
    const std::size_t end = written();
#if defined(VK_JSON_CHECKS)
    VK_JSON_CHECK(m[0].key == content);
    for (std::size_t i = 1; i < n; ++i) VK_JSON_CHECK(base_[m[i].key - 1] == ',');
#endif
    const std::size_t length = end - content;
    if (spare_.size() < length) spare_.resize(length);
    std::memcpy(spare_.data(), base_ + content, length);
    w_ = base_ + content;
    for (std::size_t i = 0; i < kept; ++i) {
      const std::size_t k = order_[i].index;
      const std::size_t from = m[k].key - content;
      const std::size_t to = (k + 1 < n ? m[k + 1].key - 1 : end) - content;
      if (i != 0) put(',');
      copy_down(w_, reinterpret_cast<const Byte*>(spare_.data()) + from, to - from);
      w_ += to - from;
    }
    marks_.resize(base);
  }

  std::string buf_;
  Byte* base_;
  const Byte* cur_;  // the next input byte
  const Byte* end_;  // the end of the input
  Byte* w_;        // where the next output byte goes; never past cur_
  std::size_t moved_ = 0;  // how far the unread input has been moved up
  int budget_ = kNestingBudget;
  // Line feeds skipped as whitespace, and the input offset just past the
  // last of them.
  std::uint64_t line_feeds_ = 0;
  std::size_t line_start_ = 0;
  const char* message_ = "";
  const Byte* error_at_ = nullptr;
  std::size_t inspected_ = 0;
  // Members of the objects being read, innermost last.
  std::vector<MemberMark> marks_;
  std::vector<SortKey> order_;
  std::string spare_;
};

Result<JsonValue, JsonParseError> parse_json(std::string&& text) { return JsonParser(std::move(text)).run(); }

Result<JsonValue, JsonParseError> parse_json(std::string_view text) {
  std::string copy;
  copy.reserve(json_parse_capacity(text.size()));
  copy.assign(text);
  return parse_json(std::move(copy));
}

}  // namespace vk

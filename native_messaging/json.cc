#include "native_messaging/json.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "native_messaging/json_numbers.h"
#include "native_messaging/json_strings.h"

namespace vk {

// ---------------------------------------------------------------------------
// Values

const JsonValue* JsonObject::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, std::string_view k) { return std::string_view(m.first) < k; });
  if (it == members_.end() || it->first != key) return nullptr;
  return &it->second;
}

JsonValue* JsonObject::find(std::string_view key) {
  return const_cast<JsonValue*>(std::as_const(*this).find(key));
}

void JsonObject::set(std::string key, JsonValue value) {
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, const std::string& k) { return m.first < k; });
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

bool operator==(const JsonObject& a, const JsonObject& b) { return a.members_ == b.members_; }

JsonValue::JsonValue(const JsonValue& other) : kind_(other.kind_), u_(0) {
  switch (kind_) {
    case Kind::null:
      break;
    case Kind::boolean:
      b_ = other.b_;
      break;
    case Kind::unsigned_integer:
      u_ = other.u_;
      break;
    case Kind::signed_integer:
      i_ = other.i_;
      break;
    case Kind::floating:
      d_ = other.d_;
      break;
    case Kind::string:
      new (&s_) std::string(other.s_);
      break;
    case Kind::array:
      new (&a_) JsonArray(other.a_);
      break;
    case Kind::object:
      new (&o_) JsonObject(other.o_);
      break;
  }
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void JsonValue::destroy_resources() {
  switch (kind_) {
    case Kind::string:
      s_.~basic_string();
      break;
    case Kind::array:
      a_.~JsonArray();
      break;
    case Kind::object:
      o_.~JsonObject();
      break;
    default:
      break;
  }
}

bool operator==(const JsonValue& a, const JsonValue& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case JsonValue::Kind::null:
      return true;
    case JsonValue::Kind::boolean:
      return a.b_ == b.b_;
    case JsonValue::Kind::unsigned_integer:
      return a.u_ == b.u_;
    case JsonValue::Kind::signed_integer:
      return a.i_ == b.i_;
    case JsonValue::Kind::floating:
      return std::bit_cast<std::uint64_t>(a.d_) == std::bit_cast<std::uint64_t>(b.d_);
    case JsonValue::Kind::string:
      return a.s_ == b.s_;
    case JsonValue::Kind::array:
      return a.a_ == b.a_;
    case JsonValue::Kind::object:
      return a.o_ == b.o_;
  }
  return false;
}

std::string JsonParseError::display() const {
  std::string text = message;
  text += " at line ";
  text += std::to_string(line);
  text += " column ";
  text += std::to_string(column);
  return text;
}

// ---------------------------------------------------------------------------
// Parsing

namespace {

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

bool is_digit(unsigned char c) { return static_cast<unsigned char>(c - '0') < 10; }

bool is_whitespace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

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

// What each one-letter escape stands for; 0 where the letter is none.
constexpr auto kSimpleEscapes = [] {
  struct Table {
    char text[256];
  } table{};
  const auto set = [&](unsigned char letter, char c) { table.text[letter] = c; };
  set('"', '"');
  set('\\', '\\');
  set('/', '/');
  set('b', '\b');
  set('f', '\f');
  set('n', '\n');
  set('r', '\r');
  set('t', '\t');
  return table;
}();

// Writes the UTF-8 of code point `cp` (never a surrogate) at `w`.
char* put_utf8(char* w, std::uint32_t cp) {
  if (cp < 0x80) {
    *w++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *w++ = static_cast<char>(0xC0 | (cp >> 6));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = static_cast<char>(0xE0 | (cp >> 12));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *w++ = static_cast<char>(0xF0 | (cp >> 18));
    *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return w;
}

// A member's place in the object being read, with its key's leading bytes.
struct SortKey {
  std::uint64_t prefix;
  std::uint32_t index;
};

// Working storage of the parser, kept per thread between calls so that a
// parse does not regrow and refault it; released when it got larger than a
// 1 MiB frame of small numbers needs.
struct ParseScratch {
  static constexpr std::size_t kKeepBytes = std::size_t{8} << 20;

  std::vector<JsonValue> values;
  std::vector<JsonObject::Member> members;
  std::vector<SortKey> order;
  std::string text;

  void reset() {
    values.clear();
    members.clear();
    if (values.capacity() * sizeof(JsonValue) > kKeepBytes) std::vector<JsonValue>().swap(values);
    if (members.capacity() * sizeof(JsonObject::Member) > kKeepBytes) {
      std::vector<JsonObject::Member>().swap(members);
    }
    if (order.capacity() * sizeof(SortKey) > kKeepBytes) std::vector<SortKey>().swap(order);
    if (text.capacity() > kKeepBytes) std::string().swap(text);
  }
};

thread_local ParseScratch tls_parse_scratch;

}  // namespace

// Recursive descent over one input buffer; errors carry a byte offset that
// is turned into line and column only when parsing fails.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text)
      : begin_(reinterpret_cast<const unsigned char*>(text.data())),
        cur_(begin_),
        end_(begin_ + text.size()),
        values_(tls_parse_scratch.values),
        members_(tls_parse_scratch.members),
        order_(tls_parse_scratch.order),
        scratch_(tls_parse_scratch.text) {}
  ~JsonParser() { tls_parse_scratch.reset(); }
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;

  Result<JsonValue, JsonParseError> run() {
    JsonValue value;
    if (parse_value(value)) {
      skip_whitespace();
      if (cur_ == end_) return value;
      fail(kTrailingCharacters, cur_ + 1);
    }
    return error();
  }

 private:
  using Byte = unsigned char;

  // Records the error; `past` is one past the byte it is reported at.
  bool fail(const char* message, const Byte* past) {
    message_ = message;
    error_offset_ = static_cast<std::size_t>(past - begin_);
    return false;
  }

  JsonParseError error() const {
    JsonParseError e;
    e.message = message_;
    const Byte* stop = begin_ + error_offset_;
    const Byte* line_start = begin_;
    std::uint64_t line = 1;
    for (const Byte* p = begin_; p < stop;) {
      const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
      if (lf == nullptr) break;
      ++line;
      p = static_cast<const Byte*>(lf) + 1;
      line_start = p;
    }
    e.line = line;
    e.column = static_cast<std::uint64_t>(stop - line_start);
    return e;
  }

  void skip_whitespace() {
    while (cur_ != end_ && is_whitespace(*cur_)) ++cur_;
  }

  bool parse_value(JsonValue& out) {
    skip_whitespace();
    if (cur_ == end_) return fail(kEofValue, end_);
    switch (*cur_) {
      case '"':
        ++cur_;
        out.kind_ = JsonValue::Kind::string;
        new (&out.s_) std::string();
        return parse_string(out.s_);
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
        return parse_number(out);
      case '[':
        return parse_array(out);
      case '{':
        return parse_object(out);
      case 'n':
        return parse_literal("ull");  // `out` is null already
      case 't':
        if (!parse_literal("rue")) return false;
        set_bool(out, true);
        return true;
      case 'f':
        if (!parse_literal("alse")) return false;
        set_bool(out, false);
        return true;
      default:
        return fail(kExpectedValue, cur_ + 1);
    }
  }

  // Scalars are stored into `out` in place: every value is parsed into a
  // freshly made null, which holds nothing to release.
  static void set_bool(JsonValue& out, bool b) {
    out.kind_ = JsonValue::Kind::boolean;
    out.b_ = b;
  }
  static void set_double(JsonValue& out, double d) {
    out.kind_ = JsonValue::Kind::floating;
    out.d_ = d;
  }

  // The rest of a literal whose first byte is at cur_, byte by byte.
  bool parse_literal(const char* rest) {
    ++cur_;
    for (; *rest != '\0'; ++rest, ++cur_) {
      if (cur_ == end_) return fail(kEofValue, end_);
      if (*cur_ != static_cast<Byte>(*rest)) return fail(kExpectedIdent, cur_ + 1);
    }
    return true;
  }

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

  bool parse_number(JsonValue& out) {
    const bool negative = *cur_ == '-';
    if (negative) {
      ++cur_;
      if (cur_ == end_) return fail(kEofValue, end_);
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
      if (cur_ == end_) return fail(kEofValue, end_);
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
      if (cur_ == end_) return fail(kEofValue, end_);
      if (!is_digit(*cur_)) return fail(kInvalidNumber, cur_ + 1);
      std::int64_t x = 0;
      while (cur_ != end_ && is_digit(*cur_)) {
        x = x * 10 + (*cur_ - '0');
        if (x > 2147483647) {
          if (s != 0 && !exponent_negative) return fail(kNumberOutOfRange, cur_ + 1);
          while (cur_ != end_ && is_digit(*cur_)) ++cur_;
          set_double(out, negative ? -0.0 : 0.0);
          return true;
        }
        ++cur_;
      }
      e = exponent_negative ? e - x : e + x;
    }
    if (!has_fraction && !has_exponent && !integer_cut) {
      if (!negative) {
        out.kind_ = JsonValue::Kind::unsigned_integer;
        out.u_ = s;
      } else if (s == 0) {
        set_double(out, -0.0);
      } else if (s <= 9223372036854775808u) {
        out.kind_ = JsonValue::Kind::signed_integer;
        out.i_ = static_cast<std::int64_t>(0 - s);
      } else {
        set_double(out, -static_cast<double>(s));
      }
      return true;
    }
    e = std::clamp<std::int64_t>(e, INT32_MIN, INT32_MAX);
    double f = 0;
    if (!json_detail::decimal_to_double(s, static_cast<std::int32_t>(e), f)) return fail(kNumberOutOfRange, cur_);
    set_double(out, negative ? -f : f);
    return true;
  }

  // Bytes of a string up to its closing quotation mark; cur_ is just past
  // the opening one. UTF-8 is checked once the string is closed, where its
  // error is reported, so the scan stops only at the bytes JSON escapes.
  bool parse_string(std::string& out) {
    const Byte* start = cur_;
    std::uint64_t seen = 0;
    cur_ = json_detail::skip_string_bytes(cur_, end_, seen);
    if (cur_ == end_) return fail(kEofString, end_);
    if (*cur_ == '"') {
      const auto n = static_cast<std::size_t>(cur_ - start);
      ++cur_;
      if ((seen & json_detail::kHighs) != 0 && !json_detail::valid_utf8(start, start + n)) {
        return fail(kInvalidCodePoint, cur_);
      }
      out.assign(reinterpret_cast<const char*>(start), n);
      return true;
    }
    if (*cur_ != '\\') return fail(kControlCharacter, cur_ + 1);
    // Escapes: decode into the scratch buffer. What remains of the input
    // bounds the decoded length, since no escape is shorter than its text.
    const auto remaining = static_cast<std::size_t>(end_ - start);
    if (scratch_.size() < remaining) scratch_.resize(remaining);
    char* const base = scratch_.data();
    const auto copied = static_cast<std::size_t>(cur_ - start);
    std::memcpy(base, start, copied);
    char* w = base + copied;
    for (;;) {
      if (!parse_escape(w)) return false;
      cur_ = json_detail::copy_string_bytes(cur_, end_, w);
      if (cur_ == end_) return fail(kEofString, end_);
      const Byte c = *cur_;
      if (c == '"') break;
      if (c != '\\') return fail(kControlCharacter, cur_ + 1);
    }
    ++cur_;
    // Escapes decode to whole sequences, so the decoded text is well formed
    // exactly when the raw bytes around them are.
    const auto* decoded = reinterpret_cast<const Byte*>(base);
    if (!json_detail::valid_utf8(decoded, reinterpret_cast<const Byte*>(w))) return fail(kInvalidCodePoint, cur_);
    out.assign(base, static_cast<std::size_t>(w - base));
    return true;
  }

  // One escape at cur_ (the backslash); its character is written at `w`.
  bool parse_escape(char*& w) {
    ++cur_;
    if (cur_ == end_) return fail(kEofString, end_);
    const Byte c = *cur_++;
    if (c != 'u') {
      const char decoded = kSimpleEscapes.text[c];
      if (decoded == 0) return fail(kInvalidEscape, cur_);
      *w++ = decoded;
      return true;
    }
    std::uint32_t unit = 0;
    if (!parse_hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(kLoneSurrogate, cur_);
    if (unit < 0xD800 || unit > 0xDFFF) {
      w = put_utf8(w, unit);
      return true;
    }
    for (const Byte expected : {Byte{'\\'}, Byte{'u'}}) {
      if (cur_ == end_) return fail(kEofString, end_);
      if (*cur_ != expected) return fail(kUnexpectedEndOfEscape, cur_ + 1);
      ++cur_;
    }
    std::uint32_t low = 0;
    if (!parse_hex4(low)) return false;
    if (low < 0xDC00 || low > 0xDFFF) return fail(kLoneSurrogate, cur_);
    w = put_utf8(w, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    return true;
  }

  // Four hexadecimal digits at cur_; leaves cur_ past them.
  bool parse_hex4(std::uint32_t& unit) {
    if (end_ - cur_ < 4) return fail(kEofString, end_);
    const std::uint32_t value = (kHexValues.value[cur_[0]] << 12) | (kHexValues.value[cur_[1]] << 8) |
                                (kHexValues.value[cur_[2]] << 4) | kHexValues.value[cur_[3]];
    cur_ += 4;
    if (value > 0xFFFF) return fail(kInvalidEscape, cur_);
    unit = value;
    return true;
  }

  bool enter(const Byte* bracket) {
    if (--budget_ == 0) return fail(kRecursionLimit, bracket + 1);
    return true;
  }

  // The next array element, read straight into the scratch stack unless it
  // is itself a container (whose reading may move that stack).
  bool parse_element() {
    skip_whitespace();
    if (cur_ != end_ && (*cur_ == '[' || *cur_ == '{')) {
      JsonValue element;
      if (!parse_value(element)) return false;
      values_.push_back(std::move(element));
      return true;
    }
    values_.emplace_back();
    return parse_value(values_.back());
  }

  bool parse_array(JsonValue& out) {
    if (!enter(cur_)) return false;
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return fail(kEofList, end_);
    if (*cur_ == ']') {
      ++cur_;
      ++budget_;
      out = JsonValue(JsonArray());
      return true;
    }
    const std::size_t base = values_.size();
    for (;;) {
      if (!parse_element()) return false;
      skip_whitespace();
      if (cur_ == end_) return fail(kEofList, end_);
      const Byte c = *cur_++;
      if (c == ']') break;
      if (c != ',') return fail(kExpectedListComma, cur_);
      skip_whitespace();
      if (cur_ != end_ && *cur_ == ']') return fail(kTrailingComma, cur_ + 1);
    }
    JsonArray array;
    array.reserve(values_.size() - base);
    const auto first = values_.begin() + static_cast<std::ptrdiff_t>(base);
    array.assign(std::make_move_iterator(first), std::make_move_iterator(values_.end()));
    values_.erase(first, values_.end());
    ++budget_;
    out = JsonValue(std::move(array));
    return true;
  }

  bool parse_object(JsonValue& out) {
    if (!enter(cur_)) return false;
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return fail(kEofObject, end_);
    if (*cur_ == '}') {
      ++cur_;
      ++budget_;
      out = JsonValue(JsonObject());
      return true;
    }
    if (*cur_ != '"') return fail(kKeyMustBeString, cur_ + 1);
    const std::size_t base = members_.size();
    for (;;) {
      ++cur_;  // the key's opening quotation mark
      members_.emplace_back();
      if (!parse_string(members_.back().first)) return false;
      skip_whitespace();
      if (cur_ == end_) return fail(kEofObject, end_);
      if (*cur_ != ':') return fail(kExpectedColon, cur_ + 1);
      ++cur_;
      skip_whitespace();
      if (cur_ != end_ && (*cur_ == '[' || *cur_ == '{')) {
        JsonValue value;
        if (!parse_value(value)) return false;
        members_.back().second = std::move(value);  // nested members are gone again
      } else if (!parse_value(members_.back().second)) {
        return false;
      }
      skip_whitespace();
      if (cur_ == end_) return fail(kEofObject, end_);
      const Byte c = *cur_++;
      if (c == '}') break;
      if (c != ',') return fail(kExpectedObjectComma, cur_);
      skip_whitespace();
      if (cur_ == end_) return fail(kEofValue, end_);
      if (*cur_ == '}') return fail(kTrailingComma, cur_ + 1);
      if (*cur_ != '"') return fail(kKeyMustBeString, cur_ + 1);
    }
    JsonObject object;
    take_members(base, object.members_);
    ++budget_;
    out = JsonValue(std::move(object));
    return true;
  }

  // The first eight bytes of `key` as a big-endian number, zero-padded:
  // ordered as the keys are wherever it differs.
  static std::uint64_t key_prefix(const std::string& key) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
    const std::size_t n = std::min<std::size_t>(key.size(), 8);
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < n; ++i) prefix = (prefix << 8) | bytes[i];
    // Assembled in a register: partial stores then one load would stall.
    if (n == 0 || n == 8) return prefix;
    return prefix << (8 * (8 - n));
  }

  // Byte order of keys. Keys mostly differ in their first byte; settle
  // that without a call.
  static bool key_less(const std::string& x, const std::string& y) {
    if (!x.empty() && !y.empty() && x[0] != y[0]) {
      return static_cast<unsigned char>(x[0]) < static_cast<unsigned char>(y[0]);
    }
    return x < y;
  }

  // Moves the members read since `base` into `sorted` in key order; of
  // equal keys the one read last is kept.
  void take_members(std::size_t base, std::vector<JsonObject::Member>& sorted) {
    const std::size_t n = members_.size() - base;
    JsonObject::Member* m = members_.data() + base;
    // Senders that sort their keys, this writer included, need no sorting.
    std::size_t ascending = 1;
    while (ascending < n && key_less(m[ascending - 1].first, m[ascending].first)) ++ascending;
    if (ascending >= n) {
      sorted.assign(std::make_move_iterator(m), std::make_move_iterator(m + n));
      members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end());
      return;
    }
    // Sorted by the keys' first eight bytes as one number; only keys that
    // share those need a full comparison.
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = {key_prefix(m[i].first), static_cast<std::uint32_t>(i)};
    auto less = [m](const SortKey& a, const SortKey& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return m[a.index].first < m[b.index].first;
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
    sorted.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 1 < n && order_[i].prefix == order_[i + 1].prefix &&
          m[order_[i].index].first == m[order_[i + 1].index].first) {
        continue;
      }
      sorted.push_back(std::move(m[order_[i].index]));
    }
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(base), members_.end());
  }

  const Byte* begin_;
  const Byte* cur_;
  const Byte* end_;
  int budget_ = kNestingBudget;
  const char* message_ = "";
  std::size_t error_offset_ = 0;
  // Elements and members of the containers being read, innermost last.
  std::vector<JsonValue>& values_;
  std::vector<JsonObject::Member>& members_;
  std::vector<SortKey>& order_;
  std::string& scratch_;
};

Result<JsonValue, JsonParseError> parse_json(std::string_view text) { return JsonParser(text).run(); }

// ---------------------------------------------------------------------------
// Writing

namespace {

// Recent output sizes of this thread: the next text is written straight
// into the caller's string, reserved from these so that it rarely regrows.
struct SizeHistory {
  std::size_t recent[4] = {};
  std::size_t next = 0;

  std::size_t estimate() const {
    const std::size_t largest = std::max(std::max(recent[0], recent[1]), std::max(recent[2], recent[3]));
    return largest + largest / 16 + 64;
  }
  void record(std::size_t n) {
    recent[next] = n;
    next = (next + 1) % std::size(recent);
  }
};

thread_local SizeHistory tls_output_sizes;

class JsonWriter {
 public:
  // Appends to `out`. Bytes are zero-filled (std::string's only way to
  // extend itself) a slice at a time just ahead of the writing, so that a
  // generous reservation costs no more than the text itself.
  explicit JsonWriter(std::string& out) : out_(out), start_(out.size()) {
    const std::size_t wanted = start_ + tls_output_sizes.estimate();
    if (out_.capacity() < wanted) out_.reserve(wanted);
    rebase(start_);
  }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // Trims `out` to the text written and remembers its size.
  void finish() {
    const auto used = static_cast<std::size_t>(p_ - out_.data());
    out_.resize(used);
    tls_output_sizes.record(used - start_);
  }

  void write(const JsonValue& value) {
    switch (value.kind()) {
      case JsonValue::Kind::null:
        put("null", 4);
        break;
      case JsonValue::Kind::boolean:
        if (*value.as_bool()) {
          put("true", 4);
        } else {
          put("false", 5);
        }
        break;
      case JsonValue::Kind::unsigned_integer:
        p_ = json_detail::write_unsigned(room(24), *value.as_unsigned());
        break;
      case JsonValue::Kind::signed_integer:
        p_ = json_detail::write_signed(room(24), *value.as_signed());
        break;
      case JsonValue::Kind::floating:
        p_ = json_detail::write_double(room(32), *value.as_double());
        break;
      case JsonValue::Kind::string:
        write_string(*value.as_string());
        break;
      case JsonValue::Kind::array: {
        const JsonArray& array = *value.as_array();
        put_char('[');
        for (std::size_t i = 0; i < array.size(); ++i) {
          if (i != 0) put_char(',');
          // Containers live elsewhere on the heap: ask for the next one's
          // storage while this element is written.
          if (i + 1 < array.size()) prefetch_contents(array[i + 1]);
          write(array[i]);
        }
        put_char(']');
        break;
      }
      case JsonValue::Kind::object: {
        const JsonObject& object = *value.as_object();
        put_char('{');
        const auto end = object.end();
        for (auto it = object.begin(); it != end; ++it) {
          if (it != object.begin()) put_char(',');
          if (it + 1 != end) {
            prefetch_text(it[1].first);
            prefetch_contents(it[1].second);
          }
          write_string(it->first);
          put_char(':');
          write(it->second);
        }
        put_char('}');
        break;
      }
    }
  }

 private:
  static void prefetch_text(const std::string& text) {
#if defined(__GNUC__)
    __builtin_prefetch(text.data());
#else
    (void)text;
#endif
  }

  static void prefetch_contents(const JsonValue& value) {
#if defined(__GNUC__)
    if (const JsonObject* object = value.as_object()) {
      if (!object->empty()) __builtin_prefetch(&*object->begin());
    } else if (const JsonArray* array = value.as_array()) {
      __builtin_prefetch(array->data());
    } else if (const std::string* text = value.as_string()) {
      __builtin_prefetch(text->data());
    }
#else
    (void)value;
#endif
  }

  // A pointer to at least `n` writable bytes at the end of the text.
  char* room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - p_) < n) grow(n);
    return p_;
  }

  void grow(std::size_t n) {
    const auto used = static_cast<std::size_t>(p_ - out_.data());
    // Zero-fill ahead in proportion to what is written, so a small text in
    // a large reservation touches little of it.
    const std::size_t ahead = std::max(n, std::clamp<std::size_t>(used - start_, 256, kFillSlice));
    if (out_.capacity() - used < ahead) {
      // Regrow by hand so the old storage can be wiped: frames may carry
      // secrets that the caller wipes from `out` but could not reach here.
      std::string larger;
      larger.reserve(std::max(out_.capacity() * 2, used + ahead));
      larger.append(out_.data(), used);
      wipe(out_.data(), out_.size());
      out_.swap(larger);
    }
    out_.resize(std::min(out_.capacity(), used + ahead));
    rebase(used);
  }

  // Zeroes stores the compiler may not drop as dead.
  static void wipe(char* p, std::size_t n) {
    std::memset(p, 0, n);
#if defined(__GNUC__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
  }

  void rebase(std::size_t used) {
    p_ = out_.data() + used;
    limit_ = out_.data() + out_.size();
  }

  void put(const char* text, std::size_t n) {
    std::memcpy(room(n), text, n);
    p_ += n;
  }

  void put_char(char c) {
    *room(1) = c;
    ++p_;
  }

  void write_string(const std::string& s) {
    const char* p = s.data();
    const char* end = p + s.size();
    put_char('"');
    // In slices, so that a long string never reserves six times its size.
    while (p != end) {
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(end - p), 4096);
      p_ = json_detail::write_escaped(room(n * 6), p, p + n);
      p += n;
    }
    put_char('"');
  }

  static constexpr std::size_t kFillSlice = 64 * 1024;

  std::string& out_;
  const std::size_t start_;
  char* p_ = nullptr;
  char* limit_ = nullptr;
};

}  // namespace

void serialize_json_to(const JsonValue& value, std::string& out) {
  JsonWriter writer(out);
  writer.write(value);
  writer.finish();
}

std::string serialize_json(const JsonValue& value) {
  std::string out;
  serialize_json_to(value, out);
  return out;
}

}  // namespace vk

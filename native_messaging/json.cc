#include "native_messaging/json.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>

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

bool is_digit(unsigned char c) { return static_cast<unsigned char>(c - '0') < 10; }

bool is_whitespace(unsigned char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Value of a hexadecimal digit, or -1.
int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<unsigned char>(c | 0x20);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

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

// Working storage of the parser, kept per thread between calls so that a
// parse does not regrow it; released when it got unusually large.
struct ParseScratch {
  static constexpr std::size_t kKeepBytes = std::size_t{4} << 20;

  std::vector<JsonValue> values;
  std::vector<JsonObject::Member> members;
  std::vector<std::uint32_t> order;
  std::string text;

  void reset() {
    values.clear();
    members.clear();
    if (values.capacity() * sizeof(JsonValue) > kKeepBytes) std::vector<JsonValue>().swap(values);
    if (members.capacity() * sizeof(JsonObject::Member) > kKeepBytes) {
      std::vector<JsonObject::Member>().swap(members);
    }
    if (order.capacity() * sizeof(std::uint32_t) > kKeepBytes) std::vector<std::uint32_t>().swap(order);
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
        out = JsonValue(std::string());
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
        if (!parse_literal("ull")) return false;
        out = JsonValue(nullptr);
        return true;
      case 't':
        if (!parse_literal("rue")) return false;
        out = JsonValue(true);
        return true;
      case 'f':
        if (!parse_literal("alse")) return false;
        out = JsonValue(false);
        return true;
      default:
        return fail(kExpectedValue, cur_ + 1);
    }
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

  // Takes digits at cur_ into s while fewer than 19 are taken, eight at a
  // time where the input allows.
  void take_digits(std::uint64_t& s, int& taken) {
    if constexpr (std::endian::native == std::endian::little) {
      while (taken <= 11 && end_ - cur_ >= 8) {
        const std::uint64_t w = json_detail::load8(cur_);
        if (!json_detail::eight_digits(w)) break;
        s = s * 100000000 + json_detail::eight_digits_value(w);
        taken += 8;
        cur_ += 8;
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
          out = JsonValue(negative ? -0.0 : 0.0);
          return true;
        }
        ++cur_;
      }
      e = exponent_negative ? e - x : e + x;
    }
    if (!has_fraction && !has_exponent && !integer_cut) {
      if (!negative) {
        out = JsonValue(s);
      } else if (s == 0) {
        out = JsonValue(-0.0);
      } else if (s <= 9223372036854775808u) {
        out = JsonValue(static_cast<std::int64_t>(0 - s));
      } else {
        out = JsonValue(-static_cast<double>(s));
      }
      return true;
    }
    e = std::clamp<std::int64_t>(e, INT32_MIN, INT32_MAX);
    double f = 0;
    if (!json_detail::decimal_to_double(s, static_cast<std::int32_t>(e), f)) return fail(kNumberOutOfRange, cur_);
    out = JsonValue(negative ? -f : f);
    return true;
  }

  // Bytes of a string up to its closing quotation mark; cur_ is just past
  // the opening one.
  bool parse_string(std::string& out) {
    const Byte* start = cur_;
    bool valid = true;
    for (;;) {
      cur_ = json_detail::skip_plain_string_bytes(cur_, end_);
      if (cur_ == end_) return fail(kEofString, end_);
      const Byte c = *cur_;
      if (c == '"') {
        out.assign(reinterpret_cast<const char*>(start), static_cast<std::size_t>(cur_ - start));
        ++cur_;
        return valid || fail(kInvalidCodePoint, cur_);
      }
      if (c == '\\') break;
      if (c < 0x20) return fail(kControlCharacter, cur_ + 1);
      cur_ += json_detail::utf8_sequence_length(cur_, end_, valid);
    }
    // Escapes: decode into the scratch buffer. What remains of the input
    // bounds the decoded length, since no escape is shorter than its text.
    const auto remaining = static_cast<std::size_t>(end_ - start);
    if (scratch_.size() < remaining) scratch_.resize(remaining);
    char* const base = scratch_.data();
    const auto copied = static_cast<std::size_t>(cur_ - start);
    std::memcpy(base, start, copied);
    char* w = base + copied;
    for (;;) {
      cur_ = json_detail::copy_plain_string_bytes(cur_, end_, w);
      if (cur_ == end_) return fail(kEofString, end_);
      const Byte c = *cur_;
      if (c == '\\') {
        if (!parse_escape(w)) return false;
      } else if (c == '"') {
        out.assign(base, static_cast<std::size_t>(w - base));
        ++cur_;
        return valid || fail(kInvalidCodePoint, cur_);
      } else if (c < 0x20) {
        return fail(kControlCharacter, cur_ + 1);
      } else {
        const std::size_t n = json_detail::utf8_sequence_length(cur_, end_, valid);
        for (std::size_t i = 0; i < n; ++i) *w++ = static_cast<char>(*cur_++);
      }
    }
  }

  // One escape at cur_ (the backslash); its character is written at `w`.
  bool parse_escape(char*& w) {
    ++cur_;
    if (cur_ == end_) return fail(kEofString, end_);
    const Byte c = *cur_++;
    switch (c) {
      case '"':
      case '\\':
      case '/':
        *w++ = static_cast<char>(c);
        return true;
      case 'b':
        *w++ = '\b';
        return true;
      case 'f':
        *w++ = '\f';
        return true;
      case 'n':
        *w++ = '\n';
        return true;
      case 'r':
        *w++ = '\r';
        return true;
      case 't':
        *w++ = '\t';
        return true;
      case 'u':
        break;
      default:
        return fail(kInvalidEscape, cur_);
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
    int value = 0;
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
      const int h = hex_value(cur_[i]);
      ok = ok && h >= 0;
      value = value * 16 + h;
    }
    cur_ += 4;
    if (!ok) return fail(kInvalidEscape, cur_);
    unit = static_cast<std::uint32_t>(value);
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

  // Moves the members read since `base` into `sorted` in key order; of
  // equal keys the one read last is kept.
  void take_members(std::size_t base, std::vector<JsonObject::Member>& sorted) {
    const std::size_t n = members_.size() - base;
    JsonObject::Member* m = members_.data() + base;
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = static_cast<std::uint32_t>(i);
    // Keys mostly differ in their first byte; settle that without a call.
    auto less = [m](std::uint32_t a, std::uint32_t b) {
      const std::string& x = m[a].first;
      const std::string& y = m[b].first;
      if (!x.empty() && !y.empty() && x[0] != y[0]) {
        return static_cast<unsigned char>(x[0]) < static_cast<unsigned char>(y[0]);
      }
      return x < y;
    };
    if (n <= 16) {
      // Insertion sort is stable and cheap for the usual small object.
      for (std::size_t i = 1; i < n; ++i) {
        const std::uint32_t v = order_[i];
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
      if (i + 1 < n && m[order_[i]].first == m[order_[i + 1]].first) continue;
      sorted.push_back(std::move(m[order_[i]]));
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
  std::vector<std::uint32_t>& order_;
  std::string& scratch_;
};

Result<JsonValue, JsonParseError> parse_json(std::string_view text) { return JsonParser(text).run(); }

// ---------------------------------------------------------------------------
// Writing

namespace {

// The writer's buffer, kept per thread between calls so that writing a
// large value does not regrow and refault a new one each time.
struct WriteBuffer {
  static constexpr std::size_t kKeepBytes = std::size_t{4} << 20;

  std::unique_ptr<char[]> data;
  std::size_t capacity = 0;
};

thread_local WriteBuffer tls_write_buffer;

class JsonWriter {
 public:
  JsonWriter() : buffer_(tls_write_buffer), p_(buffer_.data.get()), limit_(p_ + buffer_.capacity) {}
  ~JsonWriter() {
    if (buffer_.capacity > WriteBuffer::kKeepBytes) {
      buffer_.data.reset();
      buffer_.capacity = 0;
    }
  }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  std::string_view text() const { return {buffer_.data.get(), static_cast<std::size_t>(p_ - buffer_.data.get())}; }

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
        bool first = true;
        for (const auto& [key, member] : object) {
          if (!first) put_char(',');
          first = false;
          write_string(key);
          put_char(':');
          write(member);
        }
        put_char('}');
        break;
      }
    }
  }

 private:
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
    const auto used = static_cast<std::size_t>(p_ - buffer_.data.get());
    const std::size_t capacity = std::max(buffer_.capacity * 2, used + n + 4096);
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (used != 0) std::memcpy(data.get(), buffer_.data.get(), used);
    buffer_.data = std::move(data);
    buffer_.capacity = capacity;
    p_ = buffer_.data.get() + used;
    limit_ = buffer_.data.get() + capacity;
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

  WriteBuffer& buffer_;
  char* p_;
  char* limit_;
};

}  // namespace

void serialize_json_to(const JsonValue& value, std::string& out) {
  JsonWriter writer;
  writer.write(value);
  out.append(writer.text());
}

std::string serialize_json(const JsonValue& value) {
  JsonWriter writer;
  writer.write(value);
  return std::string(writer.text());
}

}  // namespace vk

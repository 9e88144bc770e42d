// The JSON engine, and where each part of it lives:
//
//   json.h          the interface: JsonValue, a value held as its compact
//                   text; JsonArray and JsonObject to build values and read
//                   them out; parse_json, serialize_json and the member editor.
//   json.cc         (this file) the values: walking compact text, ordering
//                   its keys, writing strings into it, building and reading
//                   values, and the member editor that puts the token into
//                   a request.
//   json_parser.cc  parse_json: the input rewritten into compact text in its
//                   own buffer, in one pass. The conditions that rewrite
//                   relies on are gathered on JsonParser and checked in
//                   debug and sanitizer builds.
//   json_strings.h  strings at the byte level: scanning, the escapes
//                   written, and compact string content read back one
//                   character at a time. UTF-8 (checking and repairing) is
//                   unicode/utf8.h's, shared with the rest of the program.
//   json_numbers.*  numbers: decimal to double, and the forms written for
//                   integers and doubles.
//
// This file, in order: compact text walked; compact string content
// compared (key order, without decoding aside); compact text written
// (strings quoted, escaped and repaired); JsonObject; JsonValue
// (constructors, which write the text; accessors, which read it back); and
// writing values (serialize_json, the member editor).
#include "native_messaging/json.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "native_messaging/json_numbers.h"
#include "native_messaging/json_strings.h"
#include "unicode/utf8.h"

namespace vk {

namespace {

using Byte = unsigned char;

const Byte* bytes(const char* p) { return reinterpret_cast<const Byte*>(p); }

// ---------------------------------------------------------------------------
// Compact text, walked: strings, values and object members. Compact text has
// no whitespace and no control bytes, and every escape is complete, so the
// walkers test only for the bytes that end a token.

// The first quotation mark or backslash at or after `p` in compact text.
const char* next_string_stop(const char* p, const char* end) {
  std::uint64_t seen = 0;
  return reinterpret_cast<const char*>(json_detail::skip_string_bytes(bytes(p), bytes(end), seen));
}

// Just past the string whose opening quotation mark is at `p`. In compact
// text a backslash always starts an escape whose second byte is not a
// quotation mark, whichever escape it is.
const char* skip_compact_string(const char* p, const char* end) {
  for (p = next_string_stop(p + 1, end); *p != '"'; p = next_string_stop(p + 2, end)) {
  }
  return p + 1;
}

// Just past the value that begins at `p`.
const char* skip_compact_value(const char* p, const char* end) {
  switch (*p) {
    case '"':
      return skip_compact_string(p, end);
    case '[':
    case '{': {
      int depth = 0;
      for (;;) {
        const char c = *p;
        if (c == '"') {
          p = skip_compact_string(p, end);
          continue;
        }
        if (c == '[' || c == '{') {
          ++depth;
        } else if ((c == ']' || c == '}') && --depth == 0) {
          return p + 1;
        }
        ++p;
      }
    }
    default:  // a number or a literal
      while (p != end && *p != ',' && *p != ']' && *p != '}') ++p;
      return p;
  }
}

// A member of an object's compact text: [key, key_end) is the quoted key,
// [value, value_end) the value.
struct CompactMember {
  const char* key;
  const char* key_end;
  const char* value;
  const char* value_end;
};

// Calls `visit` with each member of the object text `t` in order, until it
// returns false.
template <class Visit>
void for_each_member(std::string_view t, Visit&& visit) {
  const char* end = t.data() + t.size();
  const char* p = t.data() + 1;
  if (*p == '}') return;
  for (;;) {
    CompactMember m;
    m.key = p;
    m.key_end = skip_compact_string(p, end);
    m.value = m.key_end + 1;  // past ':'
    m.value_end = skip_compact_value(m.value, end);
    if (!visit(m) || *m.value_end != ',') return;
    p = m.value_end + 1;
  }
}

std::string_view key_content(const CompactMember& m) {
  return std::string_view(m.key + 1, static_cast<std::size_t>(m.key_end - m.key - 2));
}

// Appends the characters of compact string content [p, end) to `out`.
void append_decoded(const char* p, const char* end, std::string& out) {
  while (p != end) {
    const auto* slash = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
    if (slash == nullptr) {
      out.append(p, end);
      return;
    }
    out.append(p, slash);
    p = slash;
    out += static_cast<char>(json_detail::next_content_byte(p));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Compact string content, compared: the order of object keys and the key
// prefixes that settle most of it (declared in json_strings.h)

namespace json_detail {
namespace {

// Where [a, a + n) and [b, b + n) first differ; n when they do not.
std::size_t first_difference(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; n - i >= 8; i += 8) {
      const std::uint64_t x = load8(a + i) ^ load8(b + i);
      if (x != 0) return i + static_cast<std::size_t>(std::countr_zero(x) >> 3);
    }
  }
  while (i != n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

// Nothing is decoded aside: where the written forms first differ, the
// characters there differ (one form per character), and only that
// character of each side is decoded.
int compare_compact_content(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  const std::size_t i = first_difference(a.data(), b.data(), n);
  if (i == n) return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  // Byte i may lie inside an escape that both sides begin alike: the
  // characters to compare start where it starts. The escapes before it are
  // the same on both sides, so one side's tell where they end.
  std::size_t start = 0;
  for (;;) {
    const auto* slash = static_cast<const char*>(std::memchr(a.data() + start, '\\', i - start));
    if (slash == nullptr) {
      start = i;
      break;
    }
    const auto at = static_cast<std::size_t>(slash - a.data());
    const std::size_t length = a[at + 1] == 'u' ? 6 : 2;
    if (at + length > i) {
      start = at;
      break;
    }
    start = at + length;
  }
  const char* p = a.data() + start;
  const char* q = b.data() + start;
  const char* const a_end = a.data() + a.size();
  const char* const b_end = b.data() + b.size();
  // One step settles it in compact text; the loop only keeps the order
  // right for content written otherwise.
  while (p != a_end && q != b_end) {
    const Byte x = next_content_byte(p);
    const Byte y = next_content_byte(q);
    if (x != y) return x < y ? -1 : 1;
  }
  return (p != a_end) - (q != b_end);
}

std::uint64_t compact_key_prefix(std::string_view content) {
  if (content.find('\\') == std::string_view::npos) return key_prefix(content);
  const char* p = content.data();
  const char* const end = p + content.size();
  std::uint64_t prefix = 0;
  int n = 0;
  for (; n < 8 && p != end; ++n) prefix = (prefix << 8) | next_content_byte(p);
  return n == 8 ? prefix : prefix << (8 * (8 - n));
}

}  // namespace json_detail

namespace {

// ---------------------------------------------------------------------------
// Compact text, written: strings quoted and escaped for the constructors,
// JsonObject's keys and the member editor. Text that is not well-formed
// UTF-8 is repaired as it is written, each ill-formed part replaced by
// U+FFFD, so that every value holds text the parser accepts.

// Calls run(first, last) for each stretch of `s` that is written as it is
// (escaped), and bad() for each ill-formed part, written as U+FFFD.
template <class Run, class Bad>
void split_for_writing(std::string_view s, Run&& run, Bad&& bad) {
  const Byte* const p = bytes(s.data());
  const Byte* const end = p + s.size();
  if (is_valid_utf8(p, end)) {
    run(p, end);
  } else {
    split_ill_formed_utf8(p, end, run, bad);
  }
}

// Bytes that [p, end) takes with its escapes.
std::size_t escaped_size(const Byte* p, const Byte* end) {
  auto n = static_cast<std::size_t>(end - p);
  for (; p != end; ++p) {
    const std::uint8_t length = json_detail::kEscapes.entries[*p].length;
    if (length != 0) n += length - 1u;
  }
  return n;
}

// Bytes that the quoted form of `s` takes, escaped and repaired.
std::size_t quoted_size(std::string_view s) {
  std::size_t n = 2;
  split_for_writing(
      s, [&n](const Byte* p, const Byte* end) { n += escaped_size(p, end); },
      [&n] { n += kReplacementCharacter.size(); });
  return n;
}

// Appends `s` quoted, escaped and repaired. `out` grows by exactly that,
// within its capacity when it has 8 bytes more than that free.
void append_quoted(std::string_view s, std::string& out) {
  const std::size_t start = out.size();
  const std::size_t n = quoted_size(s);
  // The escape writer may store a few bytes past what it writes.
  out.resize(start + n + 8);
  char* w = out.data() + start;
  *w++ = '"';
  split_for_writing(
      s,
      [&w](const Byte* p, const Byte* end) {
        w = json_detail::write_escaped(w, reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end));
      },
      [&w] {
        std::memcpy(w, kReplacementCharacter.data(), kReplacementCharacter.size());
        w += kReplacementCharacter.size();
      });
  *w++ = '"';
  out.resize(start + n);
}

// `s` with each ill-formed part replaced by U+FFFD; `s` itself when it has
// none, in which case `storage` is left alone.
std::string_view repaired_utf8(std::string_view s, std::string& storage) {
  if (is_valid_utf8(bytes(s.data()), bytes(s.data() + s.size()))) return s;
  storage = repair_utf8(s);
  return storage;
}

}  // namespace

// ---------------------------------------------------------------------------
// JsonObject: members sorted by key, for building objects and reading them
// out. Keys are held repaired, as the text written from them will be, so
// that the written keys stay unique and in order.

namespace {

// Where the member of `key` (repaired) is or would go.
template <class Members>
auto find_member(Members& members, std::string_view key) {
  return std::lower_bound(members.begin(), members.end(), key,
                          [](const JsonObject::Member& m, std::string_view k) { return std::string_view(m.first) < k; });
}

}  // namespace

const JsonValue* JsonObject::find(std::string_view key) const {
  std::string storage;
  key = repaired_utf8(key, storage);
  auto it = find_member(members_, key);
  if (it == members_.end() || it->first != key) return nullptr;
  return &it->second;
}

JsonValue* JsonObject::find(std::string_view key) {
  return const_cast<JsonValue*>(std::as_const(*this).find(key));
}

void JsonObject::set(std::string key, JsonValue value) {
  std::string storage;
  if (const std::string_view repaired = repaired_utf8(key, storage); repaired.data() != key.data()) {
    key = std::move(storage);
  }
  auto it = find_member(members_, key);
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

bool JsonObject::erase(std::string_view key) {
  std::string storage;
  key = repaired_utf8(key, storage);
  auto it = find_member(members_, key);
  if (it == members_.end() || it->first != key) return false;
  members_.erase(it);
  return true;
}

bool operator==(const JsonObject& a, const JsonObject& b) { return a.members_ == b.members_; }

// ---------------------------------------------------------------------------
// JsonValue: each constructor writes the value's compact text; kind() and
// the accessors read it back.

JsonValue::JsonValue(std::uint64_t u) {
  char digits[24];
  text_.assign(digits, json_detail::write_unsigned(digits, u));
}

JsonValue::JsonValue(std::int64_t i) : non_negative_signed_(i >= 0) {
  char digits[24];
  text_.assign(digits, json_detail::write_signed(digits, i));
}

JsonValue::JsonValue(double d) {
  char digits[32];
  text_.assign(digits, json_detail::write_double(digits, d));
}

JsonValue::JsonValue(std::string_view s) { append_quoted(s, text_); }

JsonValue::JsonValue(const JsonArray& a) {
  std::size_t n = 2 + (a.empty() ? 0 : a.size() - 1);
  for (const JsonValue& element : a) n += element.text_.size();
  text_.reserve(n);
  text_ += '[';
  for (const JsonValue& element : a) {
    if (text_.size() > 1) text_ += ',';
    text_ += element.text_;
  }
  text_ += ']';
}

JsonValue::JsonValue(const JsonObject& o) {
  std::size_t n = 2;
  for (const auto& [key, value] : o) n += quoted_size(key) + 2 + value.text_.size();
  text_.reserve(n);
  text_ += '{';
  for (const auto& [key, value] : o) {
    if (text_.size() > 1) text_ += ',';
    append_quoted(key, text_);
    text_ += ':';
    text_ += value.text_;
  }
  text_ += '}';
}

JsonValue::Kind JsonValue::kind() const {
  switch (text_[0]) {
    case 'n': return Kind::null;
    case 't':
    case 'f': return Kind::boolean;
    case '"': return Kind::string;
    case '[': return Kind::array;
    case '{': return Kind::object;
    default: break;
  }
  if (text_.find_first_of(".e") != std::string::npos) return Kind::floating;
  return text_[0] == '-' || non_negative_signed_ ? Kind::signed_integer : Kind::unsigned_integer;
}

std::optional<bool> JsonValue::as_bool() const {
  if (kind() != Kind::boolean) return std::nullopt;
  return text_[0] == 't';
}

std::optional<std::uint64_t> JsonValue::as_unsigned() const {
  if (kind() != Kind::unsigned_integer) return std::nullopt;
  std::uint64_t u = 0;
  std::from_chars(text_.data(), text_.data() + text_.size(), u);
  return u;
}

std::optional<std::int64_t> JsonValue::as_signed() const {
  if (kind() != Kind::signed_integer) return std::nullopt;
  std::int64_t i = 0;
  std::from_chars(text_.data(), text_.data() + text_.size(), i);
  return i;
}

std::optional<double> JsonValue::as_double() const {
  if (kind() != Kind::floating) return std::nullopt;
  // The text holds the shortest digits that read back as the double under
  // correct rounding; the parser's own conversion is deliberately not that.
#if defined(__cpp_lib_to_chars)
  double d = 0;
  std::from_chars(text_.data(), text_.data() + text_.size(), d);
  return d;
#else
  return std::strtod(text_.c_str(), nullptr);
#endif
}

std::optional<std::string> JsonValue::as_string() const {
  if (kind() != Kind::string) return std::nullopt;
  std::string s;
  append_decoded(text_.data() + 1, text_.data() + text_.size() - 1, s);
  return s;
}

std::optional<JsonArray> JsonValue::as_array() const {
  if (kind() != Kind::array) return std::nullopt;
  JsonArray elements;
  const char* end = text_.data() + text_.size();
  const char* p = text_.data() + 1;
  if (*p == ']') return elements;
  for (;;) {
    const char* value_end = skip_compact_value(p, end);
    elements.push_back(JsonValue(CompactText{}, std::string(p, value_end)));
    if (*value_end != ',') return elements;
    p = value_end + 1;
  }
}

std::optional<JsonObject> JsonValue::as_object() const {
  if (kind() != Kind::object) return std::nullopt;
  JsonObject object;
  for_each_member(text_, [&object](const CompactMember& m) {
    std::string key;
    append_decoded(m.key + 1, m.key_end - 1, key);
    object.set(std::move(key), JsonValue(CompactText{}, std::string(m.value, m.value_end)));
    return true;
  });
  return object;
}

std::optional<JsonValue> JsonValue::member(std::string_view key) const {
  if (kind() != Kind::object) return std::nullopt;
  std::optional<JsonValue> found;
  std::string escaped;
  append_quoted(key, escaped);
  const std::string_view wanted = std::string_view(escaped).substr(1, escaped.size() - 2);
  for_each_member(text_, [&](const CompactMember& m) {
    const int order = json_detail::compare_compact_content(key_content(m), wanted);
    if (order == 0) found = JsonValue(CompactText{}, std::string(m.value, m.value_end));
    return order < 0;  // keys are sorted: past `key`, it is absent
  });
  return found;
}

JsonValue JsonValue::with_string_member(std::string_view key, std::string_view text) const {
  if (kind() != Kind::object) return *this;
  std::string out;
  serialize_json_with_string_member_to(*this, key, text, out);
  return JsonValue(CompactText{}, std::move(out));
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
// Writing values: a copy of the text; and the member editor, which writes a
// request with its token without making that request's value first.

void serialize_json_to(const JsonValue& value, std::string& out) { out.append(value.text()); }

std::string serialize_json(const JsonValue& value) { return std::string(value.text()); }

namespace {

// Where value.with_string_member(key, ...) puts the member in the object
// text `t`: after `prefix` and before `suffix` (which leave out any member
// the key already had), with a comma before or after it as needed.
struct MemberPlacement {
  std::string quoted_key;
  std::string_view prefix;
  std::string_view suffix;
  bool comma_before = false;
  bool comma_after = false;

  // Bytes of the object text with the member's value `text`.
  std::size_t size_with(std::string_view text) const {
    return prefix.size() + comma_before + quoted_key.size() + 1 + quoted_size(text) + comma_after + suffix.size();
  }
};

MemberPlacement place_string_member(std::string_view t, std::string_view key) {
  MemberPlacement placement;
  append_quoted(key, placement.quoted_key);
  const std::string_view wanted = std::string_view(placement.quoted_key).substr(1, placement.quoted_key.size() - 2);
  // The member goes before the first key above `key`, or replaces the
  // member of that key; after all others when every key is below it.
  const char* insert_at = t.data() + t.size() - 1;  // the closing brace
  const char* resume_at = insert_at;
  bool before_member = false;
  for_each_member(t, [&](const CompactMember& m) {
    const int order = json_detail::compare_compact_content(key_content(m), wanted);
    if (order < 0) return true;
    insert_at = m.key;
    resume_at = order == 0 ? m.value_end : m.key;
    before_member = order > 0;
    return false;
  });
  placement.prefix = t.substr(0, static_cast<std::size_t>(insert_at - t.data()));
  placement.suffix = t.substr(static_cast<std::size_t>(resume_at - t.data()));
  placement.comma_before = !before_member && insert_at == t.data() + t.size() - 1 && t.size() > 2;
  placement.comma_after = before_member;
  return placement;
}

}  // namespace

std::size_t serialized_size_with_string_member(const JsonValue& value, std::string_view key, std::string_view text) {
  const std::string_view t = value.text();
  if (t[0] != '{') return t.size();
  return place_string_member(t, key).size_with(text);
}

void serialize_json_with_string_member_to(const JsonValue& value, std::string_view key, std::string_view text,
                                          std::string& out) {
  const std::string_view t = value.text();
  if (t[0] != '{') {
    out.append(t);
    return;
  }
  const MemberPlacement placement = place_string_member(t, key);
  // Eight more for what the escape writer may store past its text.
  out.reserve(out.size() + placement.size_with(text) + 8);
  out.append(placement.prefix);
  if (placement.comma_before) out += ',';
  out += placement.quoted_key;
  out += ':';
  append_quoted(text, out);
  if (placement.comma_after) out += ',';
  out.append(placement.suffix);
}

}  // namespace vk

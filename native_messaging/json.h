// JSON values and their exact text: the parser's accepted language, its
// messages and positions, and the compact writer.
//
// A JsonValue holds its compact text, the bytes serialize_json writes:
// object keys unique and in byte order, numbers and strings in their written
// forms. Parsing turns the input into that text in one pass, in the input's
// own buffer, without building a tree and without an allocation per value;
// writing is a copy. Reading a member or an element walks the text, which
// costs little for the few values the relay looks into. Strings given to
// this interface that are not well-formed UTF-8 are repaired, each
// ill-formed part replaced by U+FFFD, so every value holds text the parser
// accepts. (json.cc begins with a map of the engine's files.)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native_messaging/result.h"

namespace vk {

class JsonValue;

// Ordered elements of a JSON array, for building one or reading one out.
using JsonArray = std::vector<JsonValue>;

// Members with unique keys, kept in ascending byte order of the keys; for
// building an object or reading one out.
class JsonObject {
 public:
  using Member = std::pair<std::string, JsonValue>;
  using const_iterator = std::vector<Member>::const_iterator;

  JsonObject() = default;

  // The value stored under `key`, or null when absent.
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);
  // Inserts the member, or replaces the value of a present key. A key that
  // is not well-formed UTF-8 is held repaired (find and erase repair theirs
  // alike), so the keys written stay unique and in order.
  void set(std::string key, JsonValue value);
  // Removes the member of `key`; false when there is none.
  bool erase(std::string_view key);

  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;

  friend bool operator==(const JsonObject&, const JsonObject&);

 private:
  std::vector<Member> members_;
};

// One JSON value. The three number kinds are distinct: 1 is not 1.0.
class JsonValue {
 public:
  enum class Kind { null, boolean, unsigned_integer, signed_integer, floating, string, array, object };

  JsonValue() : text_("null") {}
  JsonValue(std::nullptr_t) : JsonValue() {}
  JsonValue(bool b) : text_(b ? "true" : "false") {}
  JsonValue(std::uint64_t u);
  // A signed integer. The parser makes these for negative integers only;
  // one built here keeps the signed kind whatever its sign (as_signed()).
  // A non-negative one is written as the unsigned integer of that value,
  // so it keeps its kind only while it stands alone: inside an array's or
  // an object's text it reads back as the parser reads it, unsigned.
  JsonValue(std::int64_t i);
  // A double; one that is not finite has no JSON form and becomes null, as
  // JavaScript writes it.
  JsonValue(double d);
  // A string of UTF-8 bytes; each ill-formed part of `s` (a maximal
  // subpart, as the Unicode standard counts them and browsers decode them)
  // becomes U+FFFD.
  JsonValue(std::string_view s);
  JsonValue(const std::string& s) : JsonValue(std::string_view(s)) {}
  JsonValue(const char* s) : JsonValue(std::string_view(s)) {}
  JsonValue(const JsonArray& a);
  JsonValue(const JsonObject& o);
  // Integer literals of other types must choose a kind explicitly.
  JsonValue(int) = delete;

  JsonValue(const JsonValue&) = default;
  JsonValue& operator=(const JsonValue&) = default;
  // A value moved from is null.
  JsonValue(JsonValue&& other) noexcept
      : text_(std::exchange(other.text_, "null")),
        non_negative_signed_(std::exchange(other.non_negative_signed_, false)) {}
  JsonValue& operator=(JsonValue&& other) noexcept {
    if (this != &other) {
      text_ = std::exchange(other.text_, "null");
      non_negative_signed_ = std::exchange(other.non_negative_signed_, false);
    }
    return *this;
  }

  Kind kind() const;

  // Each accessor is empty when the value is of another kind. Arrays,
  // objects and strings are copied out of the text.
  std::optional<bool> as_bool() const;
  std::optional<std::uint64_t> as_unsigned() const;
  std::optional<std::int64_t> as_signed() const;
  std::optional<double> as_double() const;
  std::optional<std::string> as_string() const;
  std::optional<JsonArray> as_array() const;
  std::optional<JsonObject> as_object() const;

  // The value of member `key` when this is an object that has one; only
  // that member is copied.
  std::optional<JsonValue> member(std::string_view key) const;

  // This value with the string member `key` set to `text` (both repaired
  // as the string constructor does) when it is an object, any member of
  // that key replaced; any other value unchanged.
  JsonValue with_string_member(std::string_view key, std::string_view text) const;

  // The compact text, exactly as serialize_json writes it.
  std::string_view text() const { return text_; }

  // Equal kinds and equal contents (doubles bit for bit): equal text, and
  // for integers the same kind. So JsonValue(std::int64_t{7}) equals
  // neither JsonValue(std::uint64_t{7}) nor parse_json("7").
  friend bool operator==(const JsonValue&, const JsonValue&) = default;

 private:
  friend class JsonParser;
  struct CompactText {};
  // Takes text that is already compact.
  JsonValue(CompactText, std::string text) : text_(std::move(text)) {}

  std::string text_;
  // A signed integer of text that reads as unsigned (kind()).
  bool non_negative_signed_ = false;
};

// Defined here, where JsonValue is complete.
inline std::size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }
inline JsonObject::const_iterator JsonObject::begin() const { return members_.begin(); }
inline JsonObject::const_iterator JsonObject::end() const { return members_.end(); }

// Where and why a text is not JSON.
struct JsonParseError {
  std::string message;
  std::uint64_t line = 1;    // from 1
  std::uint64_t column = 0;  // bytes from the start of the line

  // "<message> at line L column C".
  std::string display() const;
  friend bool operator==(const JsonParseError&, const JsonParseError&) = default;
};

// Parses `text` as exactly one JSON value.
Result<JsonValue, JsonParseError> parse_json(std::string_view text);
inline Result<JsonValue, JsonParseError> parse_json(const char* text) { return parse_json(std::string_view(text)); }
// The same, rewriting `text`'s buffer into the value's text. Doubles can be
// written longer than they were read (1e15 becomes 1000000000000000.0); with
// the capacity json_parse_capacity(text.size()) the buffer rarely has to
// grow for them. Besides it, the parser allocates for objects only: 24 bytes
// a member while an object is read (in a vector that grows by doubling),
// and to sort an object whose members arrive out of key order, a copy of
// that object's text and 24 bytes a member more. For an object of 768,897
// bytes and 21,161 members that is 2.65 MB in allocations of 100 KB or more
// when its members arrive unsorted, 1.38 MB when they arrive sorted. Arrays
// and scalars need none of it.
Result<JsonValue, JsonParseError> parse_json(std::string&& text);

// The capacity to give a buffer of `size` bytes of JSON text handed to
// parse_json(std::string&&).
constexpr std::size_t json_parse_capacity(std::size_t size) { return size + size / 32 + 64; }

// The compact text of `value`.
std::string serialize_json(const JsonValue& value);
// Appends the compact text of `value` to `out`.
void serialize_json_to(const JsonValue& value, std::string& out);
// Appends the compact text of value.with_string_member(key, text) to `out`
// without making that value. `out` is grown to its final size before `text`
// is written, so no released buffer ever holds `text` (it may be a secret
// the caller wipes from `out`).
void serialize_json_with_string_member_to(const JsonValue& value, std::string_view key, std::string_view text,
                                          std::string& out);
// The length of that text, found without writing it.
std::size_t serialized_size_with_string_member(const JsonValue& value, std::string_view key, std::string_view text);

}  // namespace vk

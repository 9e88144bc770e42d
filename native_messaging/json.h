// JSON values and their exact text: the parser's accepted language, its
// messages and positions, and the compact writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "native_messaging/result.h"

namespace vk {

class JsonValue;

// Ordered elements of a JSON array.
using JsonArray = std::vector<JsonValue>;

// Members with unique keys, kept in ascending byte order of the keys.
class JsonObject {
 public:
  using Member = std::pair<std::string, JsonValue>;
  using const_iterator = std::vector<Member>::const_iterator;

  JsonObject() = default;

  // The value stored under `key`, or null when absent.
  const JsonValue* find(std::string_view key) const;
  JsonValue* find(std::string_view key);
  // Inserts the member, or replaces the value of a present key.
  void set(std::string key, JsonValue value);

  std::size_t size() const { return members_.size(); }
  bool empty() const { return members_.empty(); }
  const_iterator begin() const { return members_.begin(); }
  const_iterator end() const { return members_.end(); }

  friend bool operator==(const JsonObject&, const JsonObject&);

 private:
  friend class JsonParser;
  std::vector<Member> members_;
};

// One JSON value. The three number kinds are distinct: 1 is not 1.0.
class JsonValue {
 public:
  enum class Kind { null, boolean, unsigned_integer, signed_integer, floating, string, array, object };

  JsonValue() = default;
  JsonValue(std::nullptr_t) {}
  JsonValue(bool b) : data_(b) {}
  JsonValue(std::uint64_t u) : data_(u) {}
  // A signed integer; the parser makes these for negative integers only.
  JsonValue(std::int64_t i) : data_(i) {}
  // A finite double.
  JsonValue(double d) : data_(d) {}
  JsonValue(std::string s) : data_(std::move(s)) {}
  JsonValue(const char* s) : data_(std::string(s)) {}
  JsonValue(JsonArray a) : data_(std::move(a)) {}
  JsonValue(JsonObject o) : data_(std::move(o)) {}
  // Integer literals of other types must choose a kind explicitly.
  JsonValue(int) = delete;

  Kind kind() const { return static_cast<Kind>(data_.index()); }

  // Each accessor returns null when the value is of another kind.
  const bool* as_bool() const { return std::get_if<bool>(&data_); }
  const std::uint64_t* as_unsigned() const { return std::get_if<std::uint64_t>(&data_); }
  const std::int64_t* as_signed() const { return std::get_if<std::int64_t>(&data_); }
  const double* as_double() const { return std::get_if<double>(&data_); }
  const std::string* as_string() const { return std::get_if<std::string>(&data_); }
  const JsonArray* as_array() const { return std::get_if<JsonArray>(&data_); }
  JsonArray* as_array() { return std::get_if<JsonArray>(&data_); }
  const JsonObject* as_object() const { return std::get_if<JsonObject>(&data_); }
  JsonObject* as_object() { return std::get_if<JsonObject>(&data_); }

  // Equal kinds and equal contents; doubles compare bit for bit.
  friend bool operator==(const JsonValue&, const JsonValue&);

 private:
  std::variant<std::monostate, bool, std::uint64_t, std::int64_t, double, std::string, JsonArray,
               JsonObject>
      data_;
};

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

// The compact text of `value`.
std::string serialize_json(const JsonValue& value);
// Appends the compact text of `value` to `out`.
void serialize_json_to(const JsonValue& value, std::string& out);

}  // namespace vk

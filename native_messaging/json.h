// JSON values and their exact text: the parser's accepted language, its
// messages and positions, and the compact writer.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
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

  std::size_t size() const;
  bool empty() const;
  const_iterator begin() const;
  const_iterator end() const;

  friend bool operator==(const JsonObject&, const JsonObject&);

 private:
  friend class JsonParser;
  std::vector<Member> members_;
};

// One JSON value. The three number kinds are distinct: 1 is not 1.0.
class JsonValue {
 public:
  enum class Kind { null, boolean, unsigned_integer, signed_integer, floating, string, array, object };

  JsonValue() : kind_(Kind::null), u_(0) {}
  JsonValue(std::nullptr_t) : JsonValue() {}
  JsonValue(bool b) : kind_(Kind::boolean), b_(b) {}
  JsonValue(std::uint64_t u) : kind_(Kind::unsigned_integer), u_(u) {}
  // A signed integer; the parser makes these for negative integers only.
  JsonValue(std::int64_t i) : kind_(Kind::signed_integer), i_(i) {}
  // A finite double.
  JsonValue(double d) : kind_(Kind::floating), d_(d) {}
  JsonValue(std::string s) : kind_(Kind::string), s_(std::move(s)) {}
  JsonValue(const char* s) : kind_(Kind::string), s_(s) {}
  JsonValue(JsonArray a) : kind_(Kind::array), a_(std::move(a)) {}
  JsonValue(JsonObject o) : kind_(Kind::object), o_(std::move(o)) {}
  // Integer literals of other types must choose a kind explicitly.
  JsonValue(int) = delete;

  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept { move_from(std::move(other)); }
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept {
    if (this != &other) {
      destroy();
      move_from(std::move(other));
    }
    return *this;
  }
  ~JsonValue() { destroy(); }

  Kind kind() const { return kind_; }

  // Each accessor returns null when the value is of another kind.
  const bool* as_bool() const { return kind_ == Kind::boolean ? &b_ : nullptr; }
  const std::uint64_t* as_unsigned() const { return kind_ == Kind::unsigned_integer ? &u_ : nullptr; }
  const std::int64_t* as_signed() const { return kind_ == Kind::signed_integer ? &i_ : nullptr; }
  const double* as_double() const { return kind_ == Kind::floating ? &d_ : nullptr; }
  const std::string* as_string() const { return kind_ == Kind::string ? &s_ : nullptr; }
  std::string* as_string() { return kind_ == Kind::string ? &s_ : nullptr; }
  const JsonArray* as_array() const { return kind_ == Kind::array ? &a_ : nullptr; }
  JsonArray* as_array() { return kind_ == Kind::array ? &a_ : nullptr; }
  const JsonObject* as_object() const { return kind_ == Kind::object ? &o_ : nullptr; }
  JsonObject* as_object() { return kind_ == Kind::object ? &o_ : nullptr; }

  // Equal kinds and equal contents; doubles compare bit for bit.
  friend bool operator==(const JsonValue&, const JsonValue&);

 private:
  friend class JsonParser;

  // Scalars are plain bits, so moving them is a copy and needs no cleanup.
  bool holds_resources() const { return kind_ >= Kind::string; }
  void destroy() {
    if (holds_resources()) destroy_resources();
  }
  void destroy_resources();
  void move_from(JsonValue&& other) noexcept {
    kind_ = other.kind_;
    switch (kind_) {
      case Kind::null:
      case Kind::boolean:
      case Kind::unsigned_integer:
      case Kind::signed_integer:
      case Kind::floating:
        // One copy of the scalar's bytes, whichever scalar it is.
        std::memcpy(static_cast<void*>(&u_), static_cast<const void*>(&other.u_), sizeof u_);
        break;
      case Kind::string:
        new (&s_) std::string(std::move(other.s_));
        break;
      case Kind::array:
        new (&a_) JsonArray(std::move(other.a_));
        break;
      case Kind::object:
        new (&o_) JsonObject(std::move(other.o_));
        break;
    }
  }

  Kind kind_;
  union {
    bool b_;
    std::uint64_t u_;
    std::int64_t i_;
    double d_;
    std::string s_;
    JsonArray a_;
    JsonObject o_;
  };
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

// The compact text of `value`.
std::string serialize_json(const JsonValue& value);
// Appends the compact text of `value` to `out`.
void serialize_json_to(const JsonValue& value, std::string& out);

}  // namespace vk

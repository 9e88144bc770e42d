// Parses arbitrary bytes. What fails must carry a position inside the input.
// What parses must write, and its text must parse back to the same value; an
// object read out and built again must be the same text. The bytes made a
// string value must be text that parses back to that value.
// "The same" allows doubles a few units in the last place apart: the reader's
// decimal conversion is deliberately not correctly rounded, so the shortest
// digits the writer picks can read back one or two units off (for example
// 31123123123123123123 is written 3.1123123123123122e19, which reads back as
// the double written 3.112312312312312e19).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "native_messaging/json.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// Distance in units in the last place; doubles of one sign are ordered like
// their bit patterns.
std::uint64_t ulps_apart(double a, double b) {
  auto key = [](double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    return (bits >> 63) != 0 ? ~bits + 1 + (std::uint64_t{1} << 63) : bits + (std::uint64_t{1} << 63);
  };
  const std::uint64_t x = key(a);
  const std::uint64_t y = key(b);
  return x > y ? x - y : y - x;
}

bool nearly_equal(const vk::JsonValue& a, const vk::JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  if (const std::optional<double> x = a.as_double()) return ulps_apart(*x, *b.as_double()) <= 2;
  if (const std::optional<vk::JsonArray> xs = a.as_array()) {
    const vk::JsonArray ys = *b.as_array();
    if (xs->size() != ys.size()) return false;
    for (std::size_t i = 0; i < xs->size(); ++i) {
      if (!nearly_equal((*xs)[i], ys[i])) return false;
    }
    return true;
  }
  if (const std::optional<vk::JsonObject> xs = a.as_object()) {
    const vk::JsonObject ys = *b.as_object();
    if (xs->size() != ys.size()) return false;
    for (auto x = xs->begin(), y = ys.begin(); x != xs->end(); ++x, ++y) {
      if (x->first != y->first || !nearly_equal(x->second, y->second)) return false;
    }
    return true;
  }
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The bytes as a caller's string: repaired where they are not UTF-8, into
  // text the parser accepts and reads back as the same value.
  const vk::JsonValue as_string(text);
  auto string_back = vk::parse_json(vk::serialize_json(as_string));
  require(string_back.ok() && *string_back == as_string);

  auto parsed = vk::parse_json(text);
  if (!parsed) {
    const vk::JsonParseError& error = parsed.error();
    require(!error.message.empty() && error.line >= 1 && error.column <= size);
    return 0;
  }
  // The parser orders keys as their decoded bytes order (JsonObject keeps
  // them so); reading an object out and building it again changes nothing.
  if (const std::optional<vk::JsonObject> object = parsed->as_object()) require(vk::JsonValue(*object) == *parsed);
  const std::string first = vk::serialize_json(*parsed);
  auto reparsed = vk::parse_json(first);
  require(reparsed.ok());
  require(nearly_equal(*reparsed, *parsed));
  return 0;
}

#include "bench/json_payloads.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace vk_bench {
namespace {

// Fixed-seed generator so every run measures the same bytes.
class Random {
 public:
  std::uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15u;
};

void append_double(std::string& out, double d) {
  char buf[40];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
}

void append_uuid(std::string& out, Random& r) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 36; ++i) out += (i == 8 || i == 13 || i == 18 || i == 23) ? '-' : kHex[r.below(16)];
}

// Text pieces with escapes, control characters and 2-, 3- and 4-byte UTF-8.
const char* const kFragments[] = {
    "caf\xC3\xA9 ",          "na\\u00efve ",        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E ",
    "\xF0\x9F\x94\x90 ",     "line\\nbreak ",       "tab\\there ",
    "\\\"quoted\\\" ",       "back\\\\slash ",      "path\\/to ",
    "\\u0001\\u001f ",       "\\uD83D\\uDE00 ",     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 ",
    "plain ascii words ",    "\\r\\n ",             "\xE2\x82\xAC\x34\x32 ",
    "\\b\\f ",               "\xC3\x9F\xC3\xB8 ",    "\xF0\x9F\x98\x80\xF0\x9F\x8E\x89 ",
};

void append_text(std::string& out, Random& r, std::size_t pieces) {
  for (std::size_t i = 0; i < pieces; ++i) out += kFragments[r.below(std::size(kFragments))];
}

// One vault item; `i` numbers it.
std::string vault_item(Random& r, int i) {
  std::string s = "{\"id\":\"";
  append_uuid(s, r);
  s += "\",\"folderId\":\"";
  append_uuid(s, r);
  s += "\",\"type\":1,\"name\":\"Login ";
  s += std::to_string(i);
  s += " \\u2014 ";
  append_text(s, r, 1);
  s += "\",\"notes\":\"";
  append_text(s, r, 2);
  s += "\",\"favorite\":";
  s += r.below(2) ? "true" : "false";
  s += ",\"login\":{\"username\":\"user";
  s += std::to_string(r.below(100000));
  s += "@example.com\",\"password\":\"p@ss\\\\w0rd!";
  s += std::to_string(r.next());
  s += "\",\"uris\":[{\"match\":null,\"uri\":\"https://login.example";
  s += std::to_string(i);
  s += ".com/path?q=";
  s += std::to_string(r.below(1000000));
  s += "&lang=en\"}],\"passwordRevisionDate\":\"2024-03-1";
  s += std::to_string(r.below(10));
  s += "T10:20:30.123Z\"},\"fields\":[{\"name\":\"PIN\",\"value\":\"";
  s += std::to_string(r.below(10000));
  s += "\",\"type\":0}],\"score\":";
  append_double(s, r.unit());
  s += ",\"usageCount\":";
  s += std::to_string(r.next() >> 20);
  s += ",\"serial\":";
  s += std::to_string(r.next());
  s += '}';
  return s;
}

std::string number_element(Random& r) {
  std::string s;
  switch (r.below(6)) {
    case 0:  // doubles across the whole range of magnitudes
      append_double(s, (r.unit() + 0.1) * std::pow(10.0, static_cast<double>(r.below(600)) - 300.0));
      break;
    case 1:  // short decimals as people write them
      s += std::to_string(r.below(100000)) + "." + std::to_string(r.below(100));
      break;
    case 2:  // negative 64-bit integers
      s += std::to_string(-static_cast<std::int64_t>(r.next() >> (1 + r.below(63))));
      break;
    case 3:  // large unsigned integers
      s += std::to_string(r.next());
      break;
    case 4:  // small integers
      s += std::to_string(r.below(1000));
      break;
    default:  // exponent forms
      s += std::to_string(1 + r.below(9)) + "." + std::to_string(r.below(1000)) + "e" +
           std::to_string(static_cast<int>(r.below(40)) - 20);
      break;
  }
  return s;
}

std::string string_element(Random& r) {
  std::string s = "\"";
  append_text(s, r, 1 + r.below(12));
  s += '"';
  return s;
}

// "[" head, then elements made by `next` while they fit in `target` bytes
// together with `tail`.
template <class Next>
std::string fill(std::string head, Next&& next, std::string_view tail, std::size_t target) {
  std::string s = std::move(head);
  const std::size_t first = s.size();
  for (;;) {
    const std::string element = next();
    if (s.size() + 1 + element.size() + tail.size() > target) break;
    if (s.size() != first) s += ',';
    s += element;
  }
  s += tail;
  return s;
}

// Pieces of escaped keys; the first eight decoded bytes are shared by many
// keys, so the order of most pairs is settled only past the escapes.
const char* const kKeyHeads[] = {"field\\t\\u0001\\n", "\\\"quoted\\\" ", "path\\/to\\\\", "caf\\u00e9\\b\\f\\r"};
const char* const kKeyPieces[] = {"a", "b", "z", "\\n", "\\t", "\\\"", "\\\\", "\\u0001", "\\u001f", "\\/", "\\u00e9", "\\u0041"};

std::string escaped_key_member(Random& r) {
  std::string s = "\"";
  s += kKeyHeads[r.below(std::size(kKeyHeads))];
  for (std::uint64_t i = 4 + r.below(9); i > 0; --i) s += kKeyPieces[r.below(std::size(kKeyPieces))];
  s += "\":";
  s += std::to_string(r.below(1000));
  return s;
}

std::string vault_payload(std::size_t target) {
  Random r;
  std::string head = "{\"encrypted\":false,\"folders\":[";
  for (int f = 0; f < 20; ++f) {
    if (f) head += ',';
    head += "{\"id\":\"";
    append_uuid(head, r);
    head += "\",\"name\":\"Folder " + std::to_string(f) + "\"}";
  }
  head += "],\"items\":[";
  int i = 0;
  return fill(std::move(head), [&] { return vault_item(r, i++); }, "]}", target);
}

}  // namespace

std::vector<Payload> json_payloads(std::size_t target) {
  Random numbers;
  Random strings;
  const auto dense = [target](std::string_view element) {
    return fill("[", [element] { return std::string(element); }, "]", target);
  };
  return {{"vault", vault_payload(target)},
          {"numbers", fill("[", [&] { return number_element(numbers); }, "]", target)},
          {"strings", fill("[", [&] { return string_element(strings); }, "]", target)},
          {"ones", dense("1")},
          {"arrays", dense("[]")},
          {"objects", dense("{}")}};
}

std::string escaped_keys_payload(std::size_t target) {
  Random r;
  return fill("{", [&] { return escaped_key_member(r); }, "}", target);
}

std::string request_body(const std::string& shape, std::size_t limit) {
  static constexpr std::string_view kHead = "{\"id\":1,\"payload\":";
  for (Payload& p : json_payloads(limit - kHead.size() - 1)) {
    if (p.name == shape) return std::string(kHead) + p.text + "}";
  }
  return {};
}

}  // namespace vk_bench

// The JSON texts the benchmarks measure: three realistic shapes and three
// dense worst cases, generated from fixed seeds so every run sees the same
// bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vk_bench {

struct Payload {
  std::string name;
  std::string text;
};

// Each shape at about `target` bytes (never more than a few bytes over):
//   vault    an object of login items, as a password vault is exported
//   numbers  an array of integers and doubles of every kind and magnitude
//   strings  an array of strings with escapes and 2-, 3- and 4-byte UTF-8
//   ones     [1,1,...]
//   arrays   [[],[],...]
//   objects  [{},{},...]
std::vector<Payload> json_payloads(std::size_t target);

// An object of random keys full of escapes, most sharing their first eight
// decoded bytes, in no order: the worst case of sorting members. Kept apart
// from the six shapes, which every reader is measured on; the common
// readers do not sort keys.
std::string escaped_keys_payload(std::size_t target);

// The same shape as one request message of at most `limit` bytes:
// {"id":1,"payload":<shape>}.
std::string request_body(const std::string& shape, std::size_t limit);

}  // namespace vk_bench

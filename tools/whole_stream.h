// A filter's whole standard input and output, as vk-json reads and writes
// them (and its benchmark baseline, so that both are measured alike).
#pragma once

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "native_messaging/json.h"

namespace vk::tools {

// Reads `fd` to its end into `out`; false on a read error (errno says
// which). A file is read into a buffer of its size, so that no memory
// beyond its bytes is touched, with the capacity parse_json needs to
// rewrite the text in place.
inline bool read_whole_stream(int fd, std::string& out) {
  struct stat st;
  std::size_t size = 65536;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<std::size_t>(st.st_size) + 1;
  out.reserve(vk::json_parse_capacity(size));
  out.resize(size);
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    used += static_cast<std::size_t>(n);
  }
  out.resize(used);
  return true;
}

// Writes all of `bytes` to `fd`; false on a write error (errno says which).
inline bool write_whole_stream(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace vk::tools

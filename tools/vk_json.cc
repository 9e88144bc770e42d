// vk-json: shows the exact text the host writes for a JSON message. Reads
// all of standard input as one JSON text; prints its compact form, or the
// parse error, exactly as the host's JSON layer produces them.
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "native_messaging/json.h"

namespace {

// False on a read error (reported on standard error).
bool read_all(int fd, std::string& out) {
  std::size_t used = 0;
  for (;;) {
    if (out.size() - used < 65536) out.resize(out.size() < 65536 ? 131072 : out.size() * 2);
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      std::fprintf(stderr, "vk-json: cannot read standard input: %s\n", std::strerror(code));
      return false;
    }
    used += static_cast<std::size_t>(n);
  }
  out.resize(used);
  return true;
}

bool write_all(int fd, std::string_view bytes) {
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

}  // namespace

int main() {
  std::string input;
  if (!read_all(STDIN_FILENO, input)) return 2;
  auto parsed = vk::parse_json(input);
  if (!parsed) {
    write_all(STDERR_FILENO, parsed.error().display() + "\n");
    return 1;
  }
  // The input is no longer needed; free it before the text is built.
  std::string().swap(input);
  std::string text;
  vk::serialize_json_to(*parsed, text);
  text.push_back('\n');
  if (!write_all(STDOUT_FILENO, text)) {
    const int code = errno;
    std::fprintf(stderr, "vk-json: cannot write standard output: %s\n", std::strerror(code));
    return 2;
  }
  return 0;
}

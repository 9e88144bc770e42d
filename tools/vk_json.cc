// vk-json: shows the exact text the host writes for a JSON message. Reads
// all of standard input as one JSON text; prints its compact form, or the
// parse error, exactly as the host's JSON layer produces them.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "native_messaging/json.h"

namespace {

// False on a read error (reported on standard error). A file is read into
// a buffer of its size, so that no memory beyond the text is touched.
bool read_all(int fd, std::string& out) {
  struct stat st;
  std::size_t size = 65536;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<std::size_t>(st.st_size) + 1;
  // The text is made in this buffer; numbers may come out a little longer.
  out.reserve(size + size / 32 + 64);
  out.resize(size);
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
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
  // The compact text is made in the input's own buffer.
  auto parsed = vk::parse_json(std::move(input));
  if (!parsed) {
    write_all(STDERR_FILENO, parsed.error().display() + "\n");
    return 1;
  }
  if (!write_all(STDOUT_FILENO, parsed->text()) || !write_all(STDOUT_FILENO, "\n")) {
    const int code = errno;
    std::fprintf(stderr, "vk-json: cannot write standard output: %s\n", std::strerror(code));
    return 2;
  }
  return 0;
}

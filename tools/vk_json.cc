// vk-json: shows the exact text the host writes for a JSON message. Reads
// all of standard input as one JSON text; prints its compact form, or the
// parse error, exactly as the host's JSON layer produces them.
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "native_messaging/json.h"
#include "tools/whole_stream.h"

int main() {
  std::string input;
  if (!vk::tools::read_whole_stream(STDIN_FILENO, input)) {
    const int code = errno;
    std::fprintf(stderr, "vk-json: cannot read standard input: %s\n", std::strerror(code));
    return 2;
  }
  // The compact text is made in the input's own buffer.
  auto parsed = vk::parse_json(std::move(input));
  if (!parsed) {
    vk::tools::write_whole_stream(STDERR_FILENO, parsed.error().display() + "\n");
    return 1;
  }
  if (!vk::tools::write_whole_stream(STDOUT_FILENO, parsed->text()) ||
      !vk::tools::write_whole_stream(STDOUT_FILENO, "\n")) {
    const int code = errno;
    std::fprintf(stderr, "vk-json: cannot write standard output: %s\n", std::strerror(code));
    return 2;
  }
  return 0;
}

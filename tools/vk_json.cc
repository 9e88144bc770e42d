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
#include "tools/whole_stream.h"
#include "vk_version.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: vk-json [--help | --version] < message.json\n"
    "\n"
    "Reads one JSON text on standard input and prints it exactly as\n"
    "vellumkeep-native writes it (compact, keys in byte order, numbers in\n"
    "their full form), or the parse error the host would report.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "--version")) {
      const std::string text = arg == "--help" ? std::string(kUsage) : vk::version_line("vk-json");
      return vk::tools::write_whole_stream(STDOUT_FILENO, text) ? 0 : 2;
    }
    std::fprintf(stderr, "vk-json: unexpected argument \"%s\" (see --help)\n", argv[argc == 2 ? 1 : 2]);
    return 2;
  }
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

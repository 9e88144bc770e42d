#include "native_host/command_line.h"

#include <unistd.h>

#include <string_view>

#include "native_messaging/fd_io.h"
#include "vk_version.h"

namespace vk {
namespace {

constexpr std::string_view kUsage =
    "Usage: vellumkeep-native [--help | --version | --doctor [--json] [--browsers]]\n"
    "\n"
    "The native-messaging host of the Tarnwick password manager. A browser starts\n"
    "it for the Tarnwick extension and exchanges messages with it on standard input\n"
    "and output; it relays each request to the Tarnwick desktop application.\n"
    "Register it with your browsers with vk-install-host-manifest.\n"
    "\n"
    "The desktop application's socket is found from the environment:\n"
    "  VK_IPC_SOCKET_PATH              the socket itself\n"
    "  VELLUMKEEP_APP_GROUP_CONTAINER  the application-group container holding it\n"
    "  HOME                            its default container is under the home\n"
    "  XDG_RUNTIME_DIR                 else tarnwick/ in the runtime directory\n"
    "Diagnostics go to standard error, one line each, prefixed [vellumkeep-native].\n"
    "--doctor says whether a request would reach the application, and why not\n"
    "(--browsers: also whether a browser's manifest names this host).\n";

}  // namespace

std::optional<int> answer_information_request(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string_view first = argv[1];
  if (first != "--version" && first != "--help") return std::nullopt;
  const std::string text =
      first == "--version" ? version_line("vellumkeep-native") : std::string(kUsage);
  return write_all(STDOUT_FILENO, text) ? 0 : 1;
}

}  // namespace vk

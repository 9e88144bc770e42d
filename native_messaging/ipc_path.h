// Where the desktop application's IPC socket lies, whether it is refused,
// and where its token file is. Worked out afresh for every request from the
// environment and the home directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/result.h"

namespace vk {

// The fixed names of the socket location.
inline constexpr std::string_view kSocketFileName = "vellumkeep-native.sock";
inline constexpr std::string_view kTokenFileName = "vellumkeep-native.token";
inline constexpr std::string_view kSocketPathVariable = "VK_IPC_SOCKET_PATH";
inline constexpr std::string_view kAppGroupContainerVariable = "VELLUMKEEP_APP_GROUP_CONTAINER";
inline constexpr std::string_view kContainerSocketPath = "IPC/vellumkeep-native.sock";
inline constexpr std::string_view kGroupContainersDir = "Library/Group Containers";
inline constexpr std::string_view kRuntimeDirVariable = "XDG_RUNTIME_DIR";
inline constexpr std::string_view kRuntimeSubdir = "tarnwick";

// The application-group identifier shared with the desktop application, a
// build setting (CMake cache variable VK_APP_GROUP_ID).
std::string_view app_group_id();

// Why no socket location could be worked out.
enum class IpcPathError {
  UnsupportedPlatform,  // part of the type; never produced on POSIX
  NoPrivateDir,
};

// The display text of `error`.
std::string_view ipc_path_error_text(IpcPathError error);
// `error` as the relay's error value.
Error to_error(IpcPathError error);

// The process facts the location depends on; tests supply their own.
class IpcEnvironment {
 public:
  virtual ~IpcEnvironment() = default;
  // The raw bytes of variable `name`, or nullopt when it is unset.
  virtual std::optional<std::string> variable(std::string_view name) const = 0;
  // The home directory of the real user's passwd entry, or nullopt when the
  // lookup fails or finds no entry.
  virtual std::optional<std::string> passwd_home_dir() const = 0;
};

// The real process environment and passwd database.
const IpcEnvironment& process_ipc_environment();

// `base` joined with `component`, with one "/" unless `base` ends with one.
std::string join_path(std::string_view base, std::string_view component);

// The sources the location rules read, in the order they are tried. The
// home directory comes from HOME, else from the passwd entry.
inline constexpr std::string_view kHomeVariable = "HOME";
inline constexpr std::string_view kPasswdHomeSource = "passwd entry";

// What a location rule found in its source.
enum class LocationFinding {
  unset,     // not set (for the passwd entry: no entry)
  not_utf8,  // set, but not UTF-8: counts as unset
  blank,     // empty once trimmed (the container: empty or only "/")
  chosen,    // this source gave the socket path
};

// One source as the resolution read it, for diagnosis.
struct LocationStep {
  std::string_view source;           // a variable's name, or kPasswdHomeSource
  LocationFinding finding;
  std::optional<std::string> value;  // the raw bytes read, when there were any

  friend bool operator==(const LocationStep&, const LocationStep&) = default;
};
using LocationTrace = std::vector<LocationStep>;

// The socket path: VK_IPC_SOCKET_PATH, the app-group container, the home
// directory's group container, or XDG_RUNTIME_DIR, first that applies.
// With `trace`, each source read is appended to it, up to the one chosen;
// requests pass none and pay nothing for it.
Result<std::string, IpcPathError> resolve_ipc_socket_path();
Result<std::string, IpcPathError> resolve_ipc_socket_path(const IpcEnvironment& env,
                                                          LocationTrace* trace = nullptr);

// Refusal text for a socket in a shared temporary directory.
inline constexpr std::string_view kTmpSocketRefused =
    "IPC: refusing to connect to /tmp socket \u2014 use a private path (VK_IPC_SOCKET_PATH).";

// True when `path`, compared component by component, lies in /tmp or
// /var/tmp (or is /tmp itself); relative paths are never refused.
bool is_temporary_directory_path(std::string_view path);

// The token file beside the socket at `socket_path`, or the bare file name
// when the path has no directory part or no parent.
std::string token_path_for(std::string_view socket_path);

// A socket the host may connect to, and the token file beside it.
struct IpcEndpoint {
  std::string socket;
  std::string token;
};

// The endpoint of the socket at `socket_path`; refused (kTmpSocketRefused)
// in a shared temporary directory, where other users can plant a socket.
Result<IpcEndpoint> ipc_endpoint_at(std::string socket_path);

// The endpoint of the socket path resolved from `env`: what the host uses.
Result<IpcEndpoint> locate_ipc_endpoint(const IpcEnvironment& env);

}  // namespace vk

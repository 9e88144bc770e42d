// Where the desktop application's IPC socket lies. Worked out afresh for
// every request from the environment and the home directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The home directory: HOME as raw bytes when set and not empty, else the
// passwd entry's directory when not empty, else nullopt.
std::optional<std::string> home_dir(const IpcEnvironment& env);

// `base` joined with `component`, with one "/" unless `base` ends with one.
std::string join_path(std::string_view base, std::string_view component);

// The socket path: VK_IPC_SOCKET_PATH, the app-group container, the home
// directory's group container, or XDG_RUNTIME_DIR, first that applies.
Result<std::string, IpcPathError> resolve_ipc_socket_path();
Result<std::string, IpcPathError> resolve_ipc_socket_path(const IpcEnvironment& env);

}  // namespace vk

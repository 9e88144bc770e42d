#include "native_messaging/ipc_path.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "native_messaging/unicode_text.h"

#ifndef VK_APP_GROUP_ID
#error "VK_APP_GROUP_ID must be defined by the build"
#endif

namespace vk {
namespace {

// Passwd buffers never grow beyond this, however often ERANGE comes back.
constexpr std::size_t kMaxPasswdBuffer = 1 << 20;
// Buffer size when the system does not say how large passwd entries get.
constexpr std::size_t kDefaultPasswdBuffer = 512;

class ProcessIpcEnvironment final : public IpcEnvironment {
 public:
  std::optional<std::string> variable(std::string_view name) const override {
    const char* value = ::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  std::optional<std::string> passwd_home_dir() const override {
    const long reported = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = reported > 0 ? static_cast<std::size_t>(reported) : kDefaultPasswdBuffer;
    const uid_t uid = ::getuid();
    for (;;) {
      auto buffer = std::make_unique<char[]>(size);
      struct passwd entry;
      struct passwd* found = nullptr;
      const int rc = ::getpwuid_r(uid, &entry, buffer.get(), size, &found);
      // A buffer too small for this entry is retried larger rather than
      // taken as "no home directory".
      if (rc == ERANGE && size < kMaxPasswdBuffer) {
        size *= 2;
        continue;
      }
      if (rc != 0 || found == nullptr || entry.pw_dir == nullptr) return std::nullopt;
      return std::string(entry.pw_dir);
    }
  }
};

// A variable read as Unicode text: unset or not UTF-8 counts as absent.
std::optional<std::string> text_variable(const IpcEnvironment& env, std::string_view name) {
  std::optional<std::string> value = env.variable(name);
  if (value && !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

// A trimmed text variable, or nullopt when absent or only white space.
std::optional<std::string> trimmed_variable(const IpcEnvironment& env, std::string_view name) {
  std::optional<std::string> value = text_variable(env, name);
  if (!value) return std::nullopt;
  std::string_view trimmed = trim_unicode_white_space(*value);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

}  // namespace

std::string_view app_group_id() { return VK_APP_GROUP_ID; }

std::string_view ipc_path_error_text(IpcPathError error) {
  switch (error) {
    case IpcPathError::UnsupportedPlatform: return "IPC path is not supported on this platform";
    case IpcPathError::NoPrivateDir: return "IPC path: no private user directory available";
  }
  return "IPC path: no private user directory available";
}

Error to_error(IpcPathError error) { return Error(std::string(ipc_path_error_text(error))); }

const IpcEnvironment& process_ipc_environment() {
  static const ProcessIpcEnvironment environment;
  return environment;
}

std::optional<std::string> home_dir(const IpcEnvironment& env) {
  std::optional<std::string> home = env.variable("HOME");
  if (home && !home->empty()) return home;
  std::optional<std::string> from_passwd = env.passwd_home_dir();
  if (from_passwd && !from_passwd->empty()) return from_passwd;
  return std::nullopt;
}

std::string join_path(std::string_view base, std::string_view component) {
  std::string path;
  path.reserve(base.size() + 1 + component.size());
  path.append(base);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(component);
  return path;
}

Result<std::string, IpcPathError> resolve_ipc_socket_path() {
  return resolve_ipc_socket_path(process_ipc_environment());
}

Result<std::string, IpcPathError> resolve_ipc_socket_path(const IpcEnvironment& env) {
  if (std::optional<std::string> path = trimmed_variable(env, kSocketPathVariable)) {
    return std::move(*path);
  }
  if (std::optional<std::string> container = text_variable(env, kAppGroupContainerVariable)) {
    std::string_view dir = *container;
    while (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
    if (!dir.empty()) return join_path(dir, kContainerSocketPath);
  }
  if (std::optional<std::string> home = home_dir(env)) {
    std::string containers = join_path(*home, kGroupContainersDir);
    return join_path(join_path(containers, app_group_id()), kContainerSocketPath);
  }
  if (std::optional<std::string> runtime = trimmed_variable(env, kRuntimeDirVariable)) {
    return join_path(join_path(*runtime, kRuntimeSubdir), kSocketFileName);
  }
  return IpcPathError::NoPrivateDir;
}

}  // namespace vk

#include "native_messaging/ipc_path.h"

#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "unicode/utf8.h"
#include "unicode/white_space.h"

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

// What a rule makes of `value`: the part it uses (`shape` applied) in
// `usable`, or why it passes on.
LocationFinding examine(const std::optional<std::string>& value, std::string_view (*shape)(std::string_view),
                        std::string_view& usable) {
  if (!value) return LocationFinding::unset;
  if (!is_valid_utf8(*value)) return LocationFinding::not_utf8;
  usable = shape(std::string_view(*value));
  return usable.empty() ? LocationFinding::blank : LocationFinding::chosen;
}

std::string_view without_trailing_slashes(std::string_view dir) {
  while (!dir.empty() && dir.back() == '/') dir.remove_suffix(1);
  return dir;
}

// Home directories are raw bytes: only an empty one is passed over.
LocationFinding examine_home(const std::optional<std::string>& value) {
  if (!value) return LocationFinding::unset;
  return value->empty() ? LocationFinding::blank : LocationFinding::chosen;
}

// Out of the way of requests, which never trace.
[[gnu::cold]] void record(LocationTrace& trace, std::string_view source, LocationFinding finding,
                          std::optional<std::string>& value) {
  trace.push_back({source, finding, std::move(value)});
}

std::string socket_in_home(std::string_view home) {
  return join_path(join_path(join_path(home, kGroupContainersDir), app_group_id()), kContainerSocketPath);
}

struct Segment {
  std::size_t begin;
  std::size_t end;
};

// The components of `path`: separators collapse and "." components count
// only at the start of a relative path, as a path library would split it.
std::vector<Segment> path_components(std::string_view path) {
  std::vector<Segment> components;
  std::size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '/') {
      ++i;
      continue;
    }
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const bool leading_dot = i == 0;  // "./x": the relative path's own start
    if (path.substr(i, end - i) != "." || leading_dot) components.push_back({i, end});
    i = end;
  }
  return components;
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

Result<std::string, IpcPathError> resolve_ipc_socket_path(const IpcEnvironment& env, LocationTrace* trace) {
  std::optional<std::string> value;
  std::string_view usable;  // the part of `value` a rule uses
  LocationFinding finding = LocationFinding::unset;
  // Records the source just read when tracing (after its path is made,
  // since `usable` looks into `value`); true when it gave the path.
  const auto chosen = [&](std::string_view source) {
    if (trace != nullptr) record(*trace, source, finding, value);
    return finding == LocationFinding::chosen;
  };
  std::string path;

  value = env.variable(kSocketPathVariable);
  finding = examine(value, trim_unicode_white_space, usable);
  if (finding == LocationFinding::chosen) path = usable;
  if (chosen(kSocketPathVariable)) return path;

  value = env.variable(kAppGroupContainerVariable);
  finding = examine(value, without_trailing_slashes, usable);
  if (finding == LocationFinding::chosen) path = join_path(usable, kContainerSocketPath);
  if (chosen(kAppGroupContainerVariable)) return path;

  for (std::string_view source : {kHomeVariable, kPasswdHomeSource}) {
    value = source == kHomeVariable ? env.variable(kHomeVariable) : env.passwd_home_dir();
    finding = examine_home(value);
    if (finding == LocationFinding::chosen) path = socket_in_home(*value);
    if (chosen(source)) return path;
  }

  value = env.variable(kRuntimeDirVariable);
  finding = examine(value, trim_unicode_white_space, usable);
  if (finding == LocationFinding::chosen) path = join_path(join_path(usable, kRuntimeSubdir), kSocketFileName);
  if (chosen(kRuntimeDirVariable)) return path;
  return IpcPathError::NoPrivateDir;
}

bool is_temporary_directory_path(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  const std::vector<Segment> components = path_components(path);
  auto component = [&](std::size_t k) {
    return path.substr(components[k].begin, components[k].end - components[k].begin);
  };
  // "/.." is "/" itself, so leading ".." components cannot lead out of the
  // refusal.
  std::size_t first = 0;
  while (first < components.size() && component(first) == "..") ++first;
  // "/tmp/vellumkeep-native.sock" is covered by the "/tmp" prefix.
  if (first < components.size() && component(first) == "tmp") return true;
  return components.size() - first >= 2 && component(first) == "var" &&
         component(first + 1) == "tmp";
}

std::string token_path_for(std::string_view socket_path) {
  std::vector<Segment> components = path_components(socket_path);
  const bool absolute = !socket_path.empty() && socket_path.front() == '/';
  // The root directory and the empty path have no parent.
  if (components.empty()) return std::string(kTokenFileName);
  components.pop_back();
  std::string_view parent;
  if (!components.empty()) {
    parent = socket_path.substr(0, components.back().end);
  } else if (absolute) {
    parent = socket_path.substr(0, 1);
  }
  // A bare file name has no directory part: the token lies in the working
  // directory.
  if (parent.empty()) return std::string(kTokenFileName);
  return join_path(parent, kTokenFileName);
}

Result<IpcEndpoint> ipc_endpoint_at(std::string socket_path) {
  if (is_temporary_directory_path(socket_path)) return Error(std::string(kTmpSocketRefused));
  std::string token = token_path_for(socket_path);
  return IpcEndpoint{std::move(socket_path), std::move(token)};
}

Result<IpcEndpoint> locate_ipc_endpoint(const IpcEnvironment& env) {
  Result<std::string, IpcPathError> path = resolve_ipc_socket_path(env);
  if (!path) return to_error(path.error());
  return ipc_endpoint_at(std::move(path).value());
}

}  // namespace vk

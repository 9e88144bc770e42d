// Shared pieces of the end-to-end tests: a private scratch directory under
// the build tree, the stand-in application as a child process, and the host
// run as the browser runs it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/result.h"
#include "tests/child_process.h"

namespace vk::testing {

// The executables under test, from the build.
inline constexpr const char* kHostPath = VK_HOST_PATH;
inline constexpr const char* kStandInAppPath = VK_STAND_IN_APP_PATH;
inline constexpr std::string_view kAppGroupId = VK_APP_GROUP_ID_FOR_TESTS;

// Socket and token relative to a scratch directory that is the children's
// working directory: short whatever the build path is.
inline constexpr std::string_view kSocket = "ipc/vellumkeep-native.sock";
inline constexpr std::string_view kTokenFile = "ipc/vellumkeep-native.token";
inline constexpr std::string_view kSocketVariable = "VK_IPC_SOCKET_PATH=ipc/vellumkeep-native.sock";

// A fresh directory under the build tree (the host refuses /tmp), removed
// with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // `relative` inside the directory, as an absolute path.
  std::string operator/(std::string_view relative) const;
  // Creates `relative` and its parents.
  void make_dirs(std::string_view relative) const;
  // Writes `content` to `relative`, creating parent directories.
  void write_file(std::string_view relative, std::string_view content) const;
  // Gives the tree to `uid` (for runs as another user).
  void give_to(uid_t uid) const;

 private:
  std::string path_;
};

// The contents of the file at `path`, or the error.
Result<std::string> read_file(const std::string& path);

// A "Name:  N kB" field of /proc/<pid>/status (VmRSS, VmHWM), in KiB; -1
// when there is none. Linux only.
long proc_status_kib(pid_t pid, std::string_view field);

// Platform error text of errno `code`: description and "(os error N)".
std::string os_error(int code);

// One frame holding `body` verbatim.
std::string frame(std::string_view body);
// The frames holding each of `bodies`, one after another.
std::string frames(const std::vector<std::string>& bodies);

// The body of the host's error reply {"error": text, "id": id}.
std::string error_reply(std::string_view text, const JsonValue& id = JsonValue());
// Error reply bodies of the two failure stages, and their stderr lines.
std::string cannot_reach_reply(std::string_view detail, const JsonValue& id = JsonValue());
std::string ipc_error_reply(std::string_view detail, const JsonValue& id = JsonValue());
std::string cannot_open_line(std::string_view detail);
std::string ipc_error_line(std::string_view detail);

// Options that run the host in `dir` with exactly `env`.
ChildOptions host_options(const ScratchDir& dir, std::vector<std::string> env = {std::string(kSocketVariable)});

// Runs the host in `dir` with `env`, feeding it `input`.
ChildOutput run_host(const ScratchDir& dir, std::string_view input,
                     std::vector<std::string> env = {std::string(kSocketVariable)});

// The stand-in desktop application, listening until stopped.
class StandInApp {
 public:
  // Starts it on `socket` (relative to `dir`) with extra `args` and waits
  // until it listens. Fails the calling test when it cannot start.
  static std::optional<StandInApp> start(const ScratchDir& dir, std::vector<std::string> args = {},
                                         std::string socket = std::string(kSocket),
                                         std::optional<uid_t> uid = std::nullopt);

  // The token it wrote, without the file's newline.
  const std::string& token() const { return token_; }
  // Stops it with `signal` and returns how it ended.
  Result<ExitStatus> stop(int signal = SIGTERM);

 private:
  StandInApp(ChildProcess child, std::string token) : child_(std::move(child)), token_(std::move(token)) {}

  ChildProcess child_;
  std::string token_;
};

}  // namespace vk::testing

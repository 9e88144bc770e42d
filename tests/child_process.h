// Runs a program as a child process with real pipes, for tests that drive
// the real executables: exact environment, working directory, and standard
// descriptors that are piped, closed or on /dev/null.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"

namespace vk::testing {

// What one of the child's descriptors 0, 1 and 2 is at exec.
enum class StdStream {
  pipe,      // a pipe to the test
  closed,    // not open at all
  dev_null,  // /dev/null
  inherit,   // the test's own
};

struct ChildOptions {
  std::vector<std::string> argv;  // argv[0] is the path of the program
  // The child's whole environment, "NAME=value" byte strings; nothing else is
  // passed on except the sanitizer settings of the test itself.
  std::vector<std::string> env;
  std::string cwd;  // empty: the test's working directory
  StdStream stdin_mode = StdStream::pipe;
  StdStream stdout_mode = StdStream::pipe;
  StdStream stderr_mode = StdStream::pipe;
  std::optional<uid_t> uid;  // run as this user and group id (the test must be root)
  // Ignored and blocked at exec, as a careless launcher may leave them.
  std::vector<int> ignored_signals;
};

// How a child ended.
struct ExitStatus {
  bool exited = false;  // false: killed by `signal`
  int code = 0;
  int signal = 0;

  bool ok() const { return exited && code == 0; }
  std::string describe() const;
  friend bool operator==(const ExitStatus&, const ExitStatus&) = default;
};

// Everything a child wrote and how it ended.
struct ChildOutput {
  std::string out;
  std::string err;
  ExitStatus status;
};

// Longest wait for a child before the test gives up on it and kills it; a
// guard against hangs, not a measurement.
inline constexpr std::chrono::seconds kChildDeadline{60};

class ChildProcess {
 public:
  // Starts the child; fails with the reason exec or the set-up failed.
  static Result<ChildProcess> spawn(const ChildOptions& options);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  // Kills a child that is still running.
  ~ChildProcess();

  pid_t pid() const { return pid_; }

  // Writes all of `data` to the child's standard input.
  Result<void> write_stdin(std::string_view data);
  void close_stdin() { stdin_ = UniqueFd(); }
  // Closes the test's reading end: the child's next write fails.
  void close_stdout() { stdout_ = UniqueFd(); }
  void close_stderr() { stderr_ = UniqueFd(); }

  // Reads one line from standard output (without its newline).
  Result<std::string> read_stdout_line();
  // Reads exactly `size` bytes from standard output.
  Result<std::string> read_stdout_exact(std::size_t size);

  // Writes `input` while reading both outputs, closes standard input, reads
  // both outputs to their end and waits for the child.
  Result<ChildOutput> communicate(std::string_view input = {});

  // Sends `signal` to the child.
  void send_signal(int signal);
  // Waits for the child to end; kills it after the deadline.
  Result<ExitStatus> wait();

 private:
  ChildProcess() = default;

  pid_t pid_ = -1;
  UniqueFd stdin_;
  UniqueFd stdout_;
  UniqueFd stderr_;
  std::string stdout_buffered_;  // read ahead by read_stdout_line
};

// Runs `options` to completion with `input` on standard input.
Result<ChildOutput> run_child(const ChildOptions& options, std::string_view input = {});

}  // namespace vk::testing

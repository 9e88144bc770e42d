#include "tests/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <array>

#include "native_messaging/fd_io.h"

namespace vk::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Sanitizer and coverage settings reach the child so that an instrumented
// host behaves like the instrumented test that runs it.
constexpr const char* kPassedThrough[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                                          "MSAN_OPTIONS", "LLVM_PROFILE_FILE"};

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

ExitStatus decode_status(int status) {
  ExitStatus result;
  if (WIFEXITED(status)) {
    result.exited = true;
    result.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

// Hands errno to the parent through `report` and ends the child.
[[noreturn]] void fail_in_child(int report) {
  int code = errno;
  [[maybe_unused]] ssize_t n = ::write(report, &code, sizeof code);
  ::_exit(127);
}

// Child side after fork: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(const ChildOptions& options, char* const* argv, char* const* envp,
                             const std::array<int, 3>& pipe_ends, int report) {
#if defined(__linux__)
  // A test that dies must not leave its children running.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  // The test ignores SIGPIPE; the child starts with the default, as under a
  // browser.
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : options.ignored_signals) {
    ::signal(signal, SIG_IGN);
    sigaddset(&blocked, signal);
  }
  ::sigprocmask(SIG_SETMASK, &blocked, nullptr);

  const StdStream modes[3] = {options.stdin_mode, options.stdout_mode, options.stderr_mode};
  for (int fd = 0; fd < 3; ++fd) {
    if (modes[fd] == StdStream::pipe && ::dup2(pipe_ends[static_cast<std::size_t>(fd)], fd) < 0) fail_in_child(report);
  }
  for (int fd = 0; fd < 3; ++fd) {
    if (modes[fd] != StdStream::dev_null) continue;
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd < 0) fail_in_child(report);
    if (null_fd != fd) {
      if (::dup2(null_fd, fd) < 0) fail_in_child(report);
      ::close(null_fd);
    }
  }
  // Closed last, so that the opens above cannot land on these numbers.
  for (int fd = 0; fd < 3; ++fd) {
    if (modes[fd] == StdStream::closed) ::close(fd);
  }
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) fail_in_child(report);
  if (options.uid) {
    gid_t gid = static_cast<gid_t>(*options.uid);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(*options.uid) != 0) fail_in_child(report);
  }
  ::execve(argv[0], argv, envp);
  fail_in_child(report);
}

}  // namespace

std::string ExitStatus::describe() const {
  if (exited) return "exit status " + std::to_string(code);
  return "killed by signal " + std::to_string(signal);
}

Result<ChildProcess> ChildProcess::spawn(const ChildOptions& options) {
  if (options.argv.empty()) return Error("no program to run");
  // A child that has gone away must give the test a write error, not kill it.
  ::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> env = options.env;
  for (const char* name : kPassedThrough) {
    if (const char* value = ::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> argv;
  for (const std::string& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  ChildProcess child;
  UniqueFd child_ends[3];
  UniqueFd* parent_ends[3] = {&child.stdin_, &child.stdout_, &child.stderr_};
  const StdStream modes[3] = {options.stdin_mode, options.stdout_mode, options.stderr_mode};
  for (int fd = 0; fd < 3; ++fd) {
    if (modes[fd] != StdStream::pipe) continue;
    UniqueFd read_end, write_end;
    Result<void> made = open_cloexec_pipe(read_end, write_end);
    if (!made) return std::move(made).error();
    if (fd == 0) {
      child_ends[0] = std::move(read_end);
      child.stdin_ = std::move(write_end);
    } else {
      child_ends[fd] = std::move(write_end);
      *parent_ends[fd] = std::move(read_end);
    }
  }
  UniqueFd report_read, report_write;
  Result<void> made = open_cloexec_pipe(report_read, report_write);
  if (!made) return std::move(made).error();

  std::array<int, 3> pipe_ends = {child_ends[0].get(), child_ends[1].get(), child_ends[2].get()};
  pid_t pid = ::fork();
  if (pid < 0) return Error::from_errno(errno);
  if (pid == 0) exec_child(options, argv.data(), envp.data(), pipe_ends, report_write.get());

  child.pid_ = pid;
  for (UniqueFd& end : child_ends) end = UniqueFd();
  report_write = UniqueFd();
  int code = 0;
  Result<void> reported = read_exact(report_read.get(), std::span(reinterpret_cast<char*>(&code), sizeof code));
  if (reported) {
    // exec failed; the child has exited.
    int status = 0;
    ::waitpid(pid, &status, 0);
    child.pid_ = -1;
    return Error::from_errno(code).prefixed(options.argv[0] + ": ");
  }
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)),
      stdout_buffered_(std::move(other.stdout_buffered_)) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

Result<void> ChildProcess::write_stdin(std::string_view data) {
  if (!stdin_.valid()) return Error("standard input is not a pipe or is closed");
  return write_all(stdin_.get(), data);
}

Result<std::string> ChildProcess::read_stdout_line() {
  if (!stdout_.valid()) return Error("standard output is not a pipe or is closed");
  Clock::time_point deadline = Clock::now() + kChildDeadline;
  for (;;) {
    std::size_t newline = stdout_buffered_.find('\n');
    if (newline != std::string::npos) {
      std::string line = stdout_buffered_.substr(0, newline);
      stdout_buffered_.erase(0, newline + 1);
      return line;
    }
    pollfd p{stdout_.get(), POLLIN, 0};
    int ready = ::poll(&p, 1, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Error::from_errno(errno);
    if (ready == 0) return Error("no line from the child in time");
    char chunk[512];
    Result<std::size_t> n = read_some(stdout_.get(), chunk);
    if (!n) return std::move(n).error();
    if (*n == 0) return Error("the child closed its output before a whole line");
    stdout_buffered_.append(chunk, *n);
  }
}

Result<std::string> ChildProcess::read_stdout_exact(std::size_t size) {
  if (!stdout_.valid()) return Error("standard output is not a pipe or is closed");
  std::string data = stdout_buffered_.substr(0, size);
  stdout_buffered_.erase(0, data.size());
  std::size_t have = data.size();
  data.resize(size);
  Result<void> read = read_exact(stdout_.get(), std::span(data).subspan(have));
  if (!read) return std::move(read).error();
  return data;
}

Result<ChildOutput> ChildProcess::communicate(std::string_view input) {
  ChildOutput output;
  output.out = std::move(stdout_buffered_);
  stdout_buffered_.clear();
  if (stdin_.valid()) {
    if (input.empty()) {
      close_stdin();
    } else if (::fcntl(stdin_.get(), F_SETFL, ::fcntl(stdin_.get(), F_GETFL) | O_NONBLOCK) != 0) {
      return Error::from_errno(errno);
    }
  }
  Clock::time_point deadline = Clock::now() + kChildDeadline;
  while (stdin_.valid() || stdout_.valid() || stderr_.valid()) {
    pollfd fds[3] = {{stdin_.get(), POLLOUT, 0}, {stdout_.get(), POLLIN, 0}, {stderr_.get(), POLLIN, 0}};
    int ready = ::poll(fds, 3, remaining_ms(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Error::from_errno(errno);
    if (ready == 0) return Error("the child did not finish in time");
    if (fds[0].revents != 0) {
      ssize_t n = ::write(stdin_.get(), input.data(), input.size());
      if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
      // A child that stopped reading ends the input; what it did is the test.
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || input.empty()) close_stdin();
    }
    UniqueFd* outputs[2] = {&stdout_, &stderr_};
    std::string* sinks[2] = {&output.out, &output.err};
    for (int i = 0; i < 2; ++i) {
      if (fds[i + 1].revents == 0) continue;
      char chunk[65536];
      Result<std::size_t> n = read_some(outputs[i]->get(), chunk);
      if (!n || *n == 0) {
        *outputs[i] = UniqueFd();
      } else {
        sinks[i]->append(chunk, *n);
      }
    }
  }
  Result<ExitStatus> status = wait();
  if (!status) return std::move(status).error();
  output.status = *status;
  return output;
}

void ChildProcess::send_signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

Result<ExitStatus> ChildProcess::wait() {
  if (pid_ <= 0) return Error("the child has already been waited for");
  Clock::time_point deadline = Clock::now() + kChildDeadline;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return decode_status(status);
    }
    if (done < 0 && errno != EINTR) return Error::from_errno(errno);
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
      return Error("the child did not end in time and was killed");
    }
    timespec pause{0, 2'000'000};
    ::nanosleep(&pause, nullptr);
  }
}

Result<ChildOutput> run_child(const ChildOptions& options, std::string_view input) {
  Result<ChildProcess> child = ChildProcess::spawn(options);
  if (!child) return std::move(child).error();
  return child->communicate(input);
}

}  // namespace vk::testing

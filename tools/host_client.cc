// vk-host-client: talks to a native-messaging host the way a browser does
// and prints the exchange as a conversation.
//
//   vk-host-client HOST [ARG...] < script
//
// The host is started with pipes on its standard input, output and error.
// Each line of the script is one of:
//   # text        printed as a remark
//   ! command     run with /bin/sh -c and waited for (to change the world
//                 between two requests, e.g. stop the desktop application)
//   anything else sent verbatim as the body of one request frame; the client
//                 then waits for the reply frame and prints it decoded
// Blank lines are skipped. At the end of the script the host's standard input
// is closed and its exit status shown.

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "native_messaging/fd_io.h"
#include "native_messaging/protocol.h"
#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"
#include "vk_version.h"

extern char** environ;

namespace vk {
namespace {

constexpr std::string_view kProgram = "vk-host-client";

// Status text of a finished child.
std::string describe_status(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "was killed by signal " + std::to_string(WTERMSIG(status));
  return "ended with wait status " + std::to_string(status);
}

Result<int> wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Error::from_errno(errno);
  }
  return status;
}

// Runs `command` with the shell and waits for it.
Result<int> run_shell(const std::string& command) {
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ);
  if (rc != 0) return Error::from_errno(rc);
  return wait_for(pid);
}

// The host process and our ends of its three pipes.
struct Host {
  pid_t pid = -1;
  UniqueFd to_stdin;
  UniqueFd from_stdout;
  UniqueFd from_stderr;
};

Result<Host> start_host(char** argv) {
  UniqueFd in_read, in_write, out_read, out_write, err_read, err_write;
  for (auto [r, w] : {std::pair{&in_read, &in_write}, std::pair{&out_read, &out_write},
                      std::pair{&err_read, &err_write}}) {
    Result<void> made = open_cloexec_pipe(*r, *w);
    if (!made) return std::move(made).error();
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_write.get(), STDERR_FILENO);
  Host host;
  int rc = ::posix_spawn(&host.pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Error::from_errno(rc).prefixed(std::string(argv[0]) + ": ");
  host.to_stdin = std::move(in_write);
  host.from_stdout = std::move(out_read);
  host.from_stderr = std::move(err_read);
  return host;
}

// Prints the host's standard-error lines as they come, each as one remark.
class StderrRelay {
 public:
  explicit StderrRelay(int fd) : fd_(fd) {}

  // Prints whatever the host has written so far, without waiting.
  void drain_available() { drain(0); }
  // Prints everything until the host closes standard error.
  void drain_to_end() { drain(-1); }

 private:
  void drain(int timeout_ms) {
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      int ready = ::poll(&p, 1, timeout_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      char chunk[4096];
      Result<std::size_t> n = read_some(fd_, chunk);
      if (!n || *n == 0) break;
      pending_.append(chunk, *n);
      std::size_t newline;
      while ((newline = pending_.find('\n')) != std::string::npos) {
        printf("   host's stderr:     %s\n", pending_.substr(0, newline).c_str());
        pending_.erase(0, newline + 1);
      }
    }
    if (timeout_ms < 0 && !pending_.empty()) {
      printf("   host's stderr:     %s\n", pending_.c_str());
      pending_.clear();
    }
    fflush(stdout);
  }

  int fd_;
  std::string pending_;
};

constexpr std::string_view kUsage =
    "Usage: vk-host-client HOST [ARG...] < script\n"
    "       vk-host-client --help | --version\n"
    "\n"
    "Starts HOST with ARGs and talks to it the way a browser does. Each line of\n"
    "the script is a remark (# text), a shell command run between two requests\n"
    "(! command), or the body of one request frame, whose reply is printed.\n";

int run(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s HOST [ARG...] < script\n", kProgram.data());
    return 2;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "--version") {
    const std::string text = first == "--help" ? std::string(kUsage) : version_line(kProgram);
    return write_all(STDOUT_FILENO, text) ? 0 : 1;
  }
  // A host that has gone away must give a write error, not end the client.
  ::signal(SIGPIPE, SIG_IGN);

  Result<Host> started = start_host(argv + 1);
  if (!started) {
    fprintf(stderr, "%s: cannot start the host: %s\n", kProgram.data(), started.error().text().c_str());
    return 1;
  }
  Host& host = *started;
  StderrRelay stderr_relay(host.from_stderr.get());
  FrameReader replies(host.from_stdout.get());

  bool host_gone = false;
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = ::getline(&line, &capacity, stdin)) >= 0) {
    std::string_view text(line, static_cast<std::size_t>(length));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.empty()) continue;
    if (text.front() == '#') {
      text.remove_prefix(1);
      while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
      printf("\n%.*s\n", static_cast<int>(text.size()), text.data());
      fflush(stdout);
      continue;
    }
    if (text.front() == '!') {
      Result<int> status = run_shell(std::string(text.substr(1)));
      if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        fprintf(stderr, "%s: command failed: %.*s\n", kProgram.data(),
                static_cast<int>(text.size() - 1), text.data() + 1);
      }
      continue;
    }
    if (host_gone) {
      printf("   (not sent, the host has ended): %.*s\n", static_cast<int>(text.size()), text.data());
      continue;
    }
    printf("   extension → host:  %.*s\n", static_cast<int>(text.size()), text.data());
    fflush(stdout);
    Result<void> sent = write_all(host.to_stdin.get(), encode_raw_frame(text));
    if (!sent) {
      printf("   (the host no longer reads: %s)\n", sent.error().text().c_str());
      host_gone = true;
      continue;
    }
    Result<std::string, FrameReadError> reply =
        read_frame(replies, std::numeric_limits<std::uint32_t>::max());
    stderr_relay.drain_available();
    if (!reply) {
      printf("   (the host ended without a reply)\n");
      host_gone = true;
      continue;
    }
    printf("   host → extension:  %s\n", reply->c_str());
    fflush(stdout);
  }
  free(line);

  host.to_stdin = UniqueFd();  // end of input: the host's cue to finish
  stderr_relay.drain_to_end();
  Result<int> status = wait_for(host.pid);
  if (!status) {
    fprintf(stderr, "%s: %s\n", kProgram.data(), status.error().text().c_str());
    return 1;
  }
  printf("\nThe host %s.\n", describe_status(*status).c_str());
  return WIFEXITED(*status) && WEXITSTATUS(*status) == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vk

int main(int argc, char** argv) { return vk::run(argc, argv); }

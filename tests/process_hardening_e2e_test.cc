// The host's own process: no core file and no memory for other processes
// to read, no copy of the token left in its memory once a request is done,
// and SIGTERM ending it at once whatever it waits for, even when the
// launcher left the signal ignored and blocked.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"
#include "tests/scripted_peer.h"

namespace vk::testing {
namespace {

// Every check below reads /proc: the helpers exist where they are used.
#if defined(__linux__)

JsonValue u64(std::uint64_t n) { return JsonValue(n); }

std::string proc_path(pid_t pid, std::string_view entry) {
  return "/proc/" + std::to_string(pid) + "/" + std::string(entry);
}

// Sends `request` to the host and returns the body of its reply.
Result<std::string> round_trip(ChildProcess& host, std::string_view request) {
  if (Result<void> sent = host.write_stdin(frame(request)); !sent) return std::move(sent).error();
  return read_host_frame(host);
}

// Sends one request the host can only answer with an error (nothing is set
// up yet), so the host is known to be past its start.
void warm_up(ChildProcess& host) {
  Result<std::string> reply = round_trip(host, R"({"id":0})");
  ASSERT_TRUE(reply) << reply.error().text();
}

// The system call `pid` sleeps in, when /proc tells (root may read it of
// a process that is not dumpable); otherwise -1 while it sleeps at all.
std::optional<long> blocking_call(pid_t pid) {
  if (Result<std::string> call = read_file(proc_path(pid, "syscall"))) {
    if (call->empty() || !std::isdigit(static_cast<unsigned char>((*call)[0]))) return std::nullopt;
    return std::strtol(call->c_str(), nullptr, 10);
  }
  Result<std::string> stat = read_file(proc_path(pid, "stat"));
  const std::size_t end_of_name = stat ? stat->rfind(')') : std::string::npos;
  if (end_of_name == std::string::npos || end_of_name + 2 >= stat->size()) return std::nullopt;
  return (*stat)[end_of_name + 2] == 'S' ? std::optional<long>(-1) : std::nullopt;
}

// Waits until `pid` sleeps in `call` (or sleeps, where the call cannot be
// seen); a guard against hangs, not a measurement.
bool wait_until_blocked_in(pid_t pid, long call) {
  const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::optional<long> now = blocking_call(pid);
    if (now && (*now == call || *now == -1)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// How often `needle` occurs in the writable memory of `pid`. Mappings of
// more than 256 MiB are sanitizer shadow or reservations, nothing the host
// wrote its data to, and are passed over.
Result<std::size_t> occurrences_in_memory(pid_t pid, std::string_view needle) {
  constexpr unsigned long long kLargestMapping = 256ull << 20;
  constexpr std::size_t kChunk = 1 << 20;
  Result<std::string> maps = read_file(proc_path(pid, "maps"));
  if (!maps) return std::move(maps).error();
  UniqueFd memory(::open(proc_path(pid, "mem").c_str(), O_RDONLY | O_CLOEXEC));
  if (!memory.valid()) return Error::from_errno(errno);
  std::size_t count = 0;
  std::string window;
  std::istringstream lines(*maps);
  for (std::string line; std::getline(lines, line);) {
    unsigned long long begin = 0, end = 0;
    char perms[5] = {};
    if (std::sscanf(line.c_str(), "%llx-%llx %4s", &begin, &end, perms) != 3) continue;
    if (perms[0] != 'r' || perms[1] != 'w' || end - begin > kLargestMapping) continue;
    // Chunks overlap by the needle's length less one, so none is missed.
    window.clear();
    for (unsigned long long at = begin; at < end; at += kChunk) {
      const std::size_t kept = window.size();
      window.resize(kept + static_cast<std::size_t>(std::min<unsigned long long>(kChunk, end - at)));
      const ssize_t n = ::pread(memory.get(), window.data() + kept, window.size() - kept, static_cast<off_t>(at));
      if (n <= 0) break;
      window.resize(kept + static_cast<std::size_t>(n));
      for (std::size_t hit = window.find(needle); hit != std::string::npos; hit = window.find(needle, hit + 1)) {
        ++count;
      }
      window.erase(0, window.size() - std::min(window.size(), needle.size() - 1));
    }
  }
  return count;
}

// Connects without blocking to `socket` (relative to `dir`) until the
// listener's queue is full; the connections stay open.
std::vector<UniqueFd> fill_accept_queue(const ScratchDir& dir, std::string_view socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket.data(), socket.size());
  UniqueFd here(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  EXPECT_EQ(::chdir(dir.path().c_str()), 0);
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 1000; ++i) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) break;
    queued.push_back(std::move(fd));
  }
  EXPECT_EQ(::fchdir(here.get()), 0);
  return queued;
}

#endif  // __linux__

TEST(ProcessHardening, NoCoreFileAndNoMemoryForOtherProcesses) {
#if defined(__linux__)
  // /proc/<pid> of a process that is not dumpable belongs to root, so the
  // host must run as someone else to show it.
  const std::optional<uid_t> user = ::geteuid() == 0 ? std::optional<uid_t>(65534) : std::nullopt;
  ScratchDir dir;
  if (user) dir.give_to(*user);
  ChildOptions options = host_options(dir);
  options.uid = user;
  Result<ChildProcess> host = ChildProcess::spawn(options);
  ASSERT_TRUE(host) << host.error().text();
  ASSERT_NO_FATAL_FAILURE(warm_up(*host));

  Result<std::string> limits = read_file(proc_path(host->pid(), "limits"));
  ASSERT_TRUE(limits) << limits.error().text();
  const std::size_t line = limits->find("Max core file size");
  ASSERT_NE(line, std::string::npos) << *limits;
  std::istringstream fields(limits->substr(line + std::strlen("Max core file size")));
  std::string soft, hard;
  fields >> soft >> hard;
  EXPECT_EQ(soft + " " + hard, "0 0");
  struct stat st {};
  ASSERT_EQ(::stat(proc_path(host->pid(), "mem").c_str(), &st), 0) << os_error(errno);
  EXPECT_EQ(st.st_uid, 0u) << "the host is dumpable";
  EXPECT_NE(user.value_or(::geteuid()), 0u);

  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
#else
  GTEST_SKIP() << "reads the host's entries under /proc";
#endif
}

// The token is read, injected, serialised and sent on several paths; none
// may leave a copy, whole or in part, in the host's memory.
TEST(TokenCopies, NoneLeftInTheHostsMemoryAfterItsRequests) {
#if defined(__linux__)
  if (::getenv("VK_HOST_WRAPPER") != nullptr) GTEST_SKIP() << "the memory searched would be the wrapper's";
  ScratchDir dir;
  dir.write_file(kTokenFile, distinctive_token() + "\n");
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  // The token is read, then there is no socket to connect to.
  Result<std::string> refused = round_trip(*host, R"({"id":1})");
  ASSERT_TRUE(refused) << refused.error().text();
  EXPECT_EQ(*refused, cannot_reach_reply(os_error(ENOENT), u64(1)));

  std::unique_ptr<ScriptedPeer> peer = ScriptedPeer::listen(
      dir, kSocket, [](std::size_t, const std::string&) { return PeerAnswer{reply_frame(R"({"ok":true})")}; });
  ASSERT_TRUE(peer);
  const std::string too_large = R"({"id":2,"pad":")" + std::string(1'048'576 - 17, 'x') + "\"}";
  struct Step {
    const char* name;
    std::string request;
    std::string reply;
  };
  // Freed memory is reused by the next request, so the path that sends the
  // token comes last.
  const Step steps[] = {
      {"an object too large once the token is in", too_large, ipc_error_reply("IPC request too large", u64(2))},
      {"an array, sent without the token", "[3]", R"({"ok":true})"},
      {"an object with a stale token", R"({"auth_token":"stale","id":4})", R"({"ok":true})"},
      {"an object", R"({"command":"x","id":5})", R"({"ok":true})"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    Result<std::string> reply = round_trip(*host, step.request);
    ASSERT_TRUE(reply) << reply.error().text();
    EXPECT_EQ(*reply, step.reply);
  }

  const std::string token = distinctive_token();
  for (std::string_view needle : {std::string_view(token), std::string_view(token).substr(17, 16)}) {
    Result<std::size_t> found = occurrences_in_memory(host->pid(), needle);
    if (!found) GTEST_SKIP() << "cannot read the host's memory (needs root): " << found.error().text();
    EXPECT_EQ(*found, 0u) << needle;
  }
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
#else
  GTEST_SKIP() << "reads the host's memory through /proc";
#endif
}

// The blocking calls of a request, each held by the application or the
// browser; SIGTERM, ignored and blocked when the host was started, must end
// the host in every one.
TEST(Termination, SigtermEndsTheHostInEveryBlockingState) {
#if defined(__linux__)
  const std::string large_request = R"({"id":4,"pad":")" + std::string(900'000, 'x') + "\"}";
  const std::string large_reply = "\"" + std::string(1'000'000, 'y') + "\"";
  struct Held {
    std::unique_ptr<ScriptedPeer> peer;
    UniqueFd listener;
    std::vector<UniqueFd> queued;
  };
  struct Case {
    const char* name;
    std::function<void(const ScratchDir&, Held&)> hold;  // sets up the application's side
    std::string request;                                   // empty: none
    long call;                                             // where the host then blocks
  };
  const std::vector<Case> cases = {
      {"reading the next request", [](const ScratchDir&, Held&) {}, "", SYS_read},
      {"connecting while the application's queue is full",
       [](const ScratchDir& dir, Held& held) {
         Result<UniqueFd> listener = listen_unserved(dir, kSocket, 0);
         ASSERT_TRUE(listener) << listener.error().text();
         held.listener = std::move(listener).value();
         held.queued = fill_accept_queue(dir, kSocket);
       },
       R"({"id":2})", SYS_connect},
      {"sending a request the application does not read",
       [](const ScratchDir& dir, Held& held) {
         Result<UniqueFd> listener = listen_unserved(dir, kSocket, 8);
         ASSERT_TRUE(listener) << listener.error().text();
         held.listener = std::move(listener).value();
       },
       large_request, SYS_sendto},
      {"waiting for a reply that does not come",
       [](const ScratchDir& dir, Held& held) {
         held.peer = ScriptedPeer::listen(dir, kSocket, [](std::size_t, const std::string&) {
           return PeerAnswer{"", false};
         });
         ASSERT_TRUE(held.peer);
       },
       R"({"id":5})", SYS_recvfrom},
      {"writing a reply the browser does not read",
       [&](const ScratchDir& dir, Held& held) {
         held.peer = ScriptedPeer::listen(dir, kSocket, [&](std::size_t, const std::string&) {
           return PeerAnswer{reply_frame(large_reply)};
         });
         ASSERT_TRUE(held.peer);
       },
       R"({"id":6})", SYS_write},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ChildOptions options = host_options(dir);
    options.ignored_signals = {SIGTERM};
    Result<ChildProcess> host = ChildProcess::spawn(options);
    ASSERT_TRUE(host) << host.error().text();
    ASSERT_NO_FATAL_FAILURE(warm_up(*host));
    dir.write_file(kTokenFile, distinctive_token());
    Held held;
    ASSERT_NO_FATAL_FAILURE(c.hold(dir, held));
    if (!c.request.empty()) {
      ASSERT_TRUE(host->write_stdin(frame(c.request)));
    }
    ASSERT_TRUE(wait_until_blocked_in(host->pid(), c.call));
    host->send_signal(SIGTERM);
    Result<ExitStatus> status = host->wait();
    ASSERT_TRUE(status) << status.error().text();
    EXPECT_EQ(status->describe(), "killed by signal " + std::to_string(SIGTERM));
  }
#else
  GTEST_SKIP() << "watches the host's state under /proc";
#endif
}

}  // namespace
}  // namespace vk::testing

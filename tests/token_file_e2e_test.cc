// The token file beside the socket as whoever can write that directory may
// leave it (larger than a request, sparse, a directory, a FIFO, a device),
// against each kind of listener (this user, another user, root, nobody): the
// reply and the diagnostic line, whether the host opened the file at all,
// whether the listener received anything, and the host's peak memory.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#endif

#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "native_messaging/unique_fd.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"
#include "tests/scripted_peer.h"

namespace vk::testing {
namespace {

constexpr uid_t kUser = 65534;   // the browser's user, running the host (when the test is root)
constexpr uid_t kOther = 65533;  // another local user
constexpr std::size_t kFrameLimit = 1'048'576;
// The token file, the token and the request frame each stay within the
// frame limit, so no file may cost a host more than a few MiB above what a
// plain request costs it.
constexpr long kMaxExtraPeakKib = 4 * 1024;

constexpr std::string_view kSocketDir = "shared";
constexpr std::string_view kRequest = R"({"id":7})";
// Bytes of {"auth_token":"","id":7}: the longest token that fits in a
// request frame with kRequest is the frame limit minus these.
constexpr std::size_t kRequestOverhead = 24;

enum class Listener { this_user, other_user, root, nobody };

// Makes the token file at the path it is given.
struct MakeFile {
  std::function<void(const std::string& path)> make;
  bool needs_root = false;
};

MakeFile text(std::string content) {
  return {[content = std::move(content)](const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd.valid()) << path << ": " << os_error(errno);
    ASSERT_TRUE(write_all(fd.get(), content));
  }};
}

// A file of `size` zero bytes that occupies no disk: free to plant.
MakeFile sparse(off_t size) {
  return {[size](const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd.valid()) << path << ": " << os_error(errno);
    ASSERT_EQ(::ftruncate(fd.get(), size), 0) << os_error(errno);
  }};
}

MakeFile directory() {
  return {[](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << os_error(errno); }};
}

MakeFile fifo() {
  return {[](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << os_error(errno); }};
}

// A second /dev/zero, of the test's own, so that only the host can be
// opening it.
MakeFile device() {
  return {[](const std::string& path) {
            struct stat zero {};
            ASSERT_EQ(::stat("/dev/zero", &zero), 0) << os_error(errno);
            ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0600, zero.st_rdev), 0) << os_error(errno);
          },
          true};
}

// Whether anyone opened a file since the watch began; nullopt where the
// system cannot tell (Linux's inotify sees opens).
class OpenWatch {
 public:
#if defined(__linux__)
  explicit OpenWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_TRUE(fd_.valid()) << os_error(errno);
    EXPECT_GE(::inotify_add_watch(fd_.get(), path.c_str(), IN_OPEN), 0) << path << ": " << os_error(errno);
  }
  std::optional<bool> opened() const {
    alignas(inotify_event) char events[4096];
    return ::read(fd_.get(), events, sizeof events) > 0;  // only IN_OPEN is watched
  }
#else
  explicit OpenWatch(const std::string&) {}
  std::optional<bool> opened() const { return std::nullopt; }
#endif

#if defined(__linux__)
 private:
  UniqueFd fd_;
#endif
};

// One request through a fresh host, and its peak memory while it still runs.
struct HostRun {
  std::string reply;
  std::string err;
  long peak_kib = -1;
};

HostRun run_one_request(const ChildOptions& options) {
  HostRun run;
  Result<ChildProcess> host = ChildProcess::spawn(options);
  if (!host) {
    ADD_FAILURE() << host.error().text();
    return run;
  }
  EXPECT_TRUE(host->write_stdin(frame(kRequest)));
  Result<std::string> reply = read_host_frame(*host);
  EXPECT_TRUE(reply) << reply.error().text();
  if (reply) run.reply = *reply;
#if defined(__linux__)
  run.peak_kib = proc_status_kib(host->pid(), "VmHWM");
#endif
  Result<ChildOutput> rest = host->communicate();
  EXPECT_TRUE(rest) << rest.error().text();
  if (!rest) return run;
  EXPECT_EQ(rest->out, "");
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
  run.err = rest->err;
  return run;
}

TEST(TokenFile, EachKindOfFileAgainstEachListener) {
  const bool root = ::geteuid() == 0;
  const uid_t host_uid = root ? kUser : ::geteuid();
  const std::string token = distinctive_token();
  const std::string too_large = "IPC auth token file too large (max 1MB)";
  const std::string not_regular = "IPC auth token file is not a regular file";
  auto peer_refused = [&](uid_t peer) {
    return "IPC peer runs as uid " + std::to_string(peer) + ", not as this user (uid " + std::to_string(host_uid) +
           ")";
  };
  struct Case {
    const char* name;
    Listener listener;
    MakeFile file;
    std::string detail;           // empty: relayed
    bool after_connect = false;   // the detail is an IPC error after connecting
    bool opened = false;          // the host opens the token file
    std::size_t token_bytes = 0;  // relayed: the length of the token the listener receives
  };
  const std::string longest(kFrameLimit - kRequestOverhead, 'k');
  const std::string padding_to_limit(kFrameLimit - token.size() - 1, ' ');
  // The first case is the baseline of peak memory.
  const std::vector<Case> cases = {
      {"this user, a token", Listener::this_user, text(token + "\n"), "", false, true, token.size()},
      {"this user, 1 MiB of white space and a token", Listener::this_user, text(padding_to_limit + token + "\n"), "",
       false, true, token.size()},
      {"this user, one byte more", Listener::this_user, text(padding_to_limit + " " + token + "\n"), too_large},
      {"this user, the longest token a request holds", Listener::this_user, text(longest), "", false, true,
       longest.size()},
      {"this user, a token one byte longer", Listener::this_user, text(longest + "k"), "IPC request too large", true,
       true},
      {"this user, 1 MiB of control characters, six times that escaped", Listener::this_user,
       text(std::string(32, 'k') + std::string(kFrameLimit - 32, '\x01')), "IPC request too large", true, true},
      {"this user, sparse 16 MiB", Listener::this_user, sparse(16 << 20), too_large},
      {"this user, sparse 128 MiB", Listener::this_user, sparse(128 << 20), too_large},
      {"this user, a short token", Listener::this_user, text("short\n"), "IPC auth token missing or too short",
       false, true},
      {"this user, a directory", Listener::this_user, directory(), os_error(EISDIR)},
      {"this user, a FIFO", Listener::this_user, fifo(), not_regular},
      {"this user, a device", Listener::this_user, device(), not_regular},
      {"another user, a token", Listener::other_user, text(token), peer_refused(kOther)},
      {"another user, a FIFO", Listener::other_user, fifo(), peer_refused(kOther)},
      {"root, a token", Listener::root, text(token), peer_refused(0)},
      // Without a connection the token's own errors come first, as always.
      {"nobody, a token", Listener::nobody, text(token), os_error(ENOENT), false, true},
      {"nobody, a short token", Listener::nobody, text("short\n"), "IPC auth token missing or too short", false,
       true},
      {"nobody, a directory", Listener::nobody, directory(), os_error(EISDIR)},
      {"nobody, a FIFO", Listener::nobody, fifo(), not_regular},
      {"nobody, sparse 16 MiB", Listener::nobody, sparse(16 << 20), too_large},
  };
  // Peak memory is read from /proc, and would be the wrapper's under one.
#if defined(__linux__)
  const bool measure_memory = ::getenv("VK_HOST_WRAPPER") == nullptr;
#else
  const bool measure_memory = false;
#endif
  long baseline_kib = -1;
  std::vector<std::string> skipped;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!root && (c.listener == Listener::other_user || c.listener == Listener::root || c.file.needs_root)) {
      skipped.push_back(c.name);
      continue;
    }
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    // A directory every user can write, like /dev/shm.
    dir.make_dirs(kSocketDir);
    ASSERT_EQ(::chmod((dir / kSocketDir).c_str(), 01777), 0);
    const std::string token_path = dir / "shared/vellumkeep-native.token";
    ASSERT_NO_FATAL_FAILURE(c.file.make(token_path));
    ASSERT_EQ(::lchown(token_path.c_str(), host_uid, static_cast<gid_t>(host_uid)), 0);
    const OpenWatch watch(token_path);

    // The listener answers with the length of the token it received.
    auto responder = [](std::size_t, const std::string& body) {
      Result<JsonValue, JsonParseError> request = parse_json(body);
      const std::optional<JsonValue> member = request ? request->member("auth_token") : std::nullopt;
      const std::size_t received = member ? member->as_string().value_or("").size() : 0;
      return PeerAnswer{reply_frame(R"({"token_bytes":)" + std::to_string(received) + "}")};
    };
    const std::string socket = "shared/vellumkeep-native.sock";
    std::unique_ptr<ScriptedPeer> peer;
    switch (c.listener) {
      case Listener::this_user:
        peer = root ? ScriptedPeer::listen_as(dir, socket, responder, kUser)
                    : ScriptedPeer::listen(dir, socket, responder);
        break;
      case Listener::other_user: peer = ScriptedPeer::listen_as(dir, socket, responder, kOther); break;
      case Listener::root: peer = ScriptedPeer::listen_as(dir, socket, responder, 0); break;
      case Listener::nobody: break;
    }
    ASSERT_EQ(peer != nullptr, c.listener != Listener::nobody);

    ChildOptions options = host_options(dir, {"VK_IPC_SOCKET_PATH=" + socket});
    if (root) options.uid = kUser;
    const HostRun run = run_one_request(options);
    const JsonValue id(std::uint64_t{7});
    if (c.detail.empty()) {
      EXPECT_EQ(run.reply, R"({"token_bytes":)" + std::to_string(c.token_bytes) + "}");
      EXPECT_EQ(run.err, "");
    } else if (c.after_connect) {
      EXPECT_EQ(run.reply, ipc_error_reply(c.detail, id));
      EXPECT_EQ(run.err, ipc_error_line(c.detail));
    } else {
      EXPECT_EQ(run.reply, cannot_reach_reply(c.detail, id));
      EXPECT_EQ(run.err, cannot_open_line(c.detail));
    }
    expect_no_token(run.reply, "standard output");
    expect_no_token(run.err, "standard error");
    if (const std::optional<bool> opened = watch.opened()) {
      EXPECT_EQ(*opened, c.opened) << "whether the host opened the token file";
    }
    if (peer && !c.detail.empty()) {
      for (const PeerExchange& exchange : peer->exchanges()) {
        EXPECT_EQ(exchange.request + exchange.after, "") << "a refused listener received bytes";
      }
    }

    if (measure_memory) {
      std::cout << "[ memory ] " << c.name << ": host peak " << run.peak_kib << " KiB\n";
      if (baseline_kib < 0) baseline_kib = run.peak_kib;
      EXPECT_LE(run.peak_kib, baseline_kib + kMaxExtraPeakKib);
    }
  }
  if (!skipped.empty()) {
    std::string names;
    for (const std::string& name : skipped) names += "\n  " + name;
    GTEST_SKIP() << "needs root, to run the host and listeners as other users; skipped:" << names;
  }
}

}  // namespace
}  // namespace vk::testing

// Resource bounds of a long-lived host: many requests through one process,
// through every kind of failure, leave no descriptor behind and do not grow
// its memory; and no descriptor it opens would survive into a program it
// started.

#include <dirent.h>
#include <fcntl.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <future>
#include <iostream>
#include <string>
#include <vector>

#include "native_messaging/json.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"
#include "tests/scripted_peer.h"

namespace vk::testing {
namespace {

constexpr std::uint64_t kRequests = 10'000;
// When the first measurement is taken: allocator and buffers have settled.
constexpr std::uint64_t kWarmUp = 100;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The descriptors `pid` has open, by number, with what they refer to.
std::vector<std::pair<int, std::string>> open_descriptors(pid_t pid) {
  std::vector<std::pair<int, std::string>> fds;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) {
    ADD_FAILURE() << dir << ": " << os_error(errno);
    return fds;
  }
  while (dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] == '.') continue;
    char target[512] = {};
    const std::string link = dir + "/" + entry->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    fds.emplace_back(std::stoi(entry->d_name), n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?");
  }
  ::closedir(listing);
  return fds;
}

// The host is not dumpable, so only root may list its descriptors.
constexpr const char* kNeedsRoot = "needs root: the host keeps processes of its own user out of /proc/<pid>/fd";

// The open-file flags of descriptor `fd` of `pid`, from fdinfo (octal).
long descriptor_flags(pid_t pid, int fd) {
  Result<std::string> info = read_file("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
  if (!info) return -1;
  std::size_t at = info->find("flags:");
  if (at == std::string::npos) return -1;
  return std::strtol(info->c_str() + at + 6, nullptr, 8);
}

struct Snapshot {
  std::size_t descriptors;
  long rss_kib;
  long hwm_kib;
};

Snapshot measure(pid_t pid) {
  return {open_descriptors(pid).size(), proc_status_kib(pid, "VmRSS"), proc_status_kib(pid, "VmHWM")};
}

// 10,000 requests through one host, cycling through a reply, a peer that
// closes without answering, a reply that is not JSON, an oversized reply
// length and a missing token file: every path that opens and must close a
// socket or the token file.
TEST(ResourceBounds, TenThousandRequestsThroughOneHost) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ScratchDir dir;
  dir.write_file(kTokenFile, distinctive_token());
  const std::string token_path = dir / kTokenFile;
  const std::string token_away = dir / "ipc/token-away";
  std::unique_ptr<ScriptedPeer> peer = ScriptedPeer::listen(dir, kSocket, [](std::size_t, const std::string& body) {
    Result<JsonValue, JsonParseError> request = parse_json(body);
    const std::optional<JsonValue> id = request ? request->member("n") : std::nullopt;
    const std::uint64_t n = id ? id->as_unsigned().value_or(0) : 0;
    switch (n % 5) {
      case 0: return PeerAnswer{reply_frame(R"({"ok":true})")};
      case 1: return PeerAnswer{""};
      case 2: return PeerAnswer{reply_frame("{")};
      default: return PeerAnswer{length_only(0xFFFFFFFF)};
    }
  });
  ASSERT_TRUE(peer);
  const std::string expected[5] = {
      R"({"ok":true})",
      ipc_error_reply("failed to fill whole buffer"),
      ipc_error_reply("EOF while parsing an object at line 1 column 1"),
      ipc_error_reply("IPC response too large"),
      cannot_reach_reply(os_error(ENOENT)),
  };

  // Four of five requests fail and write a diagnostic line; nobody reads
  // them during the run, and a full pipe would stop the host.
  ChildOptions options = host_options(dir);
  options.stderr_mode = StdStream::dev_null;
  Result<ChildProcess> host = ChildProcess::spawn(options);
  ASSERT_TRUE(host) << host.error().text();
  const Snapshot at_start = measure(host->pid());
  Snapshot before{};
  for (std::uint64_t i = 0; i < kRequests; ++i) {
    if (i == kWarmUp) before = measure(host->pid());
    const bool token_missing = i % 5 == 4;
    if (token_missing) {
      ASSERT_EQ(::rename(token_path.c_str(), token_away.c_str()), 0);
    }
    // "n" tells the peer how to answer; without an "id" every error reply
    // carries null.
    ASSERT_TRUE(host->write_stdin(frame(R"({"command":"x","n":)" + std::to_string(i) + "}")));
    Result<std::string> reply = read_host_frame(*host);
    ASSERT_TRUE(reply) << "request " << i << ": " << reply.error().text();
    if (*reply != expected[i % 5]) {
      FAIL() << "request " << i << ": " << *reply;
    }
    if (token_missing) {
      ASSERT_EQ(::rename(token_away.c_str(), token_path.c_str()), 0);
    }
  }
  const Snapshot after = measure(host->pid());
  const pid_t pid = host->pid();
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
  EXPECT_EQ(rest->out, "");

  std::cout << "[ resource ] host " << pid << ", " << kRequests << " requests\n"
            << "[ resource ] open descriptors at start: " << at_start.descriptors << ", after " << kWarmUp << " requests: " << before.descriptors
            << ", after " << kRequests << ": " << after.descriptors << "\n"
            << "[ resource ] VmRSS after " << kWarmUp << ": " << before.rss_kib << " KiB, after " << kRequests
            << ": " << after.rss_kib << " KiB; VmHWM " << after.hwm_kib << " KiB"
            << (kSanitized ? " (sanitizer build: memory not bounded here)" : "") << std::endl;
  RecordProperty("descriptors_before", static_cast<int>(before.descriptors));
  RecordProperty("descriptors_after", static_cast<int>(after.descriptors));
  RecordProperty("vmrss_before_kib", static_cast<int>(before.rss_kib));
  RecordProperty("vmrss_after_kib", static_cast<int>(after.rss_kib));
  RecordProperty("vmhwm_kib", static_cast<int>(after.hwm_kib));

  EXPECT_EQ(after.descriptors, before.descriptors) << "descriptors left open by requests";
  if (!kSanitized) {
    // The allocator may keep a little more in use; a leak of even a few
    // bytes per request would add hundreds of KiB over 9,900 requests.
    EXPECT_LE(after.rss_kib, before.rss_kib + 256);
    EXPECT_LE(after.hwm_kib, 16 * 1024);
  }
  // Without a token file the host connects, finds the peer is this user's,
  // and closes without sending anything.
  const std::vector<PeerExchange> seen = peer->exchanges();
  EXPECT_EQ(seen.size(), kRequests);
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const PeerExchange& e) { return e.request_read; }),
            static_cast<std::ptrdiff_t>(kRequests - kRequests / 5));
}

// While a request is in flight, every descriptor of the host beyond the
// standard three, its socket among them, is marked close-on-exec.
TEST(ResourceBounds, DescriptorsAreCloseOnExec) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  ScratchDir dir;
  dir.write_file(kTokenFile, distinctive_token());
  std::promise<void> in_flight;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::unique_ptr<ScriptedPeer> peer = ScriptedPeer::listen(dir, kSocket, [&](std::size_t index, const std::string&) {
    if (index == 0) {
      in_flight.set_value();
      released.wait();
    }
    return PeerAnswer{reply_frame(R"({"ok":true})")};
  });
  ASSERT_TRUE(peer);
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  // What the host inherited from the test's own parent is not its doing.
  // (A sanitizer runtime may still hold a file of its own at this point, so
  // a descriptor counts as inherited only if it still refers to the same.)
  const std::vector<std::pair<int, std::string>> inherited = open_descriptors(host->pid());
  ASSERT_TRUE(host->write_stdin(frame(R"({"command":"x"})")));
  ASSERT_EQ(in_flight.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

  std::size_t sockets = 0;
  for (const auto& [fd, target] : open_descriptors(host->pid())) {
    SCOPED_TRACE("descriptor " + std::to_string(fd) + " -> " + target);
    const long flags = descriptor_flags(host->pid(), fd);
    ASSERT_GE(flags, 0);
    std::cout << "[ resource ] in flight: fd " << fd << " -> " << target << ", flags 0" << std::oct << flags
              << std::dec << ((flags & O_CLOEXEC) != 0 ? " (close-on-exec)" : "") << "\n";
    if (fd > 2 && std::find(inherited.begin(), inherited.end(), std::pair(fd, target)) != inherited.end()) continue;
    if (fd <= 2) {
      EXPECT_EQ(target.rfind("socket:", 0), std::string::npos) << "a standard descriptor is the IPC socket";
      continue;
    }
    EXPECT_NE(flags & O_CLOEXEC, 0) << "would be inherited by a program the host starts";
    if (target.rfind("socket:", 0) == 0) ++sockets;
  }
  EXPECT_EQ(sockets, 1u);
  release.set_value();
  Result<std::string> reply = read_host_frame(*host);
  ASSERT_TRUE(reply) << reply.error().text();
  EXPECT_EQ(*reply, R"({"ok":true})");
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
}

}  // namespace
}  // namespace vk::testing

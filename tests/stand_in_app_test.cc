// The stand-in application itself: what it leaves on disk, how it judges the
// token, and how it treats a socket that is already there.

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/ipc_blocking_client.h"
#include "native_messaging/protocol.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path << ": " << os_error(errno);
  return st.st_mode;
}

TEST(StandInApp, OwnsPrivateSocketAndTokenAndRemovesThemOnExit) {
  std::string previous_token;
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);
    EXPECT_EQ(mode_of(dir / "ipc") & 07777, 0700u);
    EXPECT_EQ(mode_of(dir / kTokenFile) & 07777, 0600u);
    EXPECT_TRUE(S_ISSOCK(mode_of(dir / kSocket)));
    EXPECT_EQ(app->token().size(), 64u);
    EXPECT_EQ(app->token().find_first_not_of("0123456789abcdef"), std::string::npos) << app->token();
    EXPECT_NE(app->token(), previous_token);  // fresh for every start
    previous_token = app->token();

    Result<ExitStatus> stopped = app->stop(signal);
    ASSERT_TRUE(stopped) << stopped.error().text();
    EXPECT_TRUE(stopped->ok()) << stopped->describe();
    EXPECT_FALSE(std::filesystem::exists(dir / "ipc"));
  }
}

TEST(StandInApp, JudgesTheTokenOfEachRequest) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  const std::string token = app->token();
  struct Case {
    std::string request;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {R"({"command":"ping","id":4})", R"({"error":"missing auth_token","id":4})"},
      {R"({"auth_token":7,"id":"x"})", R"({"error":"missing auth_token","id":"x"})"},
      {R"({"auth_token":")" + token.substr(1) + "\",\"id\":5}", R"({"error":"wrong auth_token","id":5})"},
      {R"({"auth_token":")" + token + "0\"}", R"({"error":"wrong auth_token","id":null})"},
      {R"({"auth_token":")" + token + "\",\"command\":\"ping\"}", R"({"command":"ping","id":null,"reply":"pong"})"},
      {R"({"auth_token":")" + token + "\",\"b\":[1.5],\"a\":1}", R"({"a":1,"b":[1.5]})"},
      {"[1,", R"({"error":"invalid JSON: EOF while parsing a value at line 1 column 3","id":null})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    Result<UniqueFd> socket = connect_unix_socket(dir / kSocket);
    ASSERT_TRUE(socket) << socket.error().text();
    ASSERT_TRUE(write_all(socket->get(), frame(c.request), FdKind::socket));
    Result<std::string, FrameReadError> reply = read_frame(socket->get(), FdKind::socket);
    ASSERT_TRUE(reply) << reply.error().io.text();
    EXPECT_EQ(*reply, c.reply);
  }
}

TEST(StandInApp, ReplacesAStaleSocketButNotALiveOne) {
  ScratchDir dir;
  {
    // A socket file whose owner is gone.
    dir.make_dirs("ipc");
    UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir / kSocket;
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << os_error(errno);
  }
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);

  ChildOptions second;
  second.argv = {kStandInAppPath, "--socket", std::string(kSocket)};
  second.cwd = dir.path();
  Result<ChildOutput> refused = run_child(second);
  ASSERT_TRUE(refused) << refused.error().text();
  EXPECT_EQ(refused->err, "vk-stand-in-app: another application already listens on ipc/vellumkeep-native.sock\n");
  EXPECT_EQ(refused->status.code, 1);
  // The first app's socket and token are untouched.
  ChildOutput host = run_host(dir, frame(R"({"command":"ping","id":1})"));
  EXPECT_EQ(host.out, frame(R"({"command":"ping","id":1,"reply":"pong"})"));
}

// An existing socket directory is used only when it belongs to the user and
// nobody else can write it: otherwise another user could plant a socket and
// a token beside the app's.
TEST(StandInApp, UsesAnExistingSocketDirectoryOnlyWhenPrivate) {
  const std::string writable = "vk-stand-in-app: ipc is writable by other users; use a private directory (mode 0700)\n";
  struct Case {
    mode_t mode;
    std::optional<uid_t> owner;
    std::string err;  // empty: the app starts
  };
  const std::vector<Case> cases = {
      {0700, std::nullopt, ""},
      {0755, std::nullopt, ""},
      {0770, std::nullopt, writable},
      {0707, std::nullopt, writable},
      {01777, std::nullopt, writable},
      {0700, uid_t{65534},
       "vk-stand-in-app: ipc is owned by uid 65534, not by this user (uid " + std::to_string(::geteuid()) + ")\n"},
  };
  const bool root = ::geteuid() == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + (c.owner ? " owned by another user" : ""));
    if (c.owner && !root) continue;
    ScratchDir dir;
    dir.make_dirs("ipc");
    ASSERT_EQ(::chmod((dir / "ipc").c_str(), c.mode), 0);
    if (c.owner) {
      ASSERT_EQ(::chown((dir / "ipc").c_str(), *c.owner, *c.owner), 0);
    }
    if (c.err.empty()) {
      std::optional<StandInApp> app = StandInApp::start(dir);
      ASSERT_TRUE(app);
      Result<ExitStatus> stopped = app->stop();
      ASSERT_TRUE(stopped) << stopped.error().text();
      EXPECT_TRUE(stopped->ok()) << stopped->describe();
      continue;
    }
    ChildOptions options;
    options.argv = {kStandInAppPath, "--socket", std::string(kSocket)};
    options.cwd = dir.path();
    Result<ChildOutput> refused = run_child(options);
    ASSERT_TRUE(refused) << refused.error().text();
    EXPECT_EQ(refused->err, c.err);
    EXPECT_EQ(refused->status.code, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / kTokenFile)) << "a token was written";
  }
  if (!root) GTEST_SKIP() << "the directory of another user needs root; the other rows passed";
}

// The token file is replaced whole by a rename: whatever stood at its name
// before (a file still open elsewhere, a link) keeps its content, and no
// temporary file stays behind.
TEST(StandInApp, ReplacesTheTokenFileByRename) {
  struct Case {
    const char* name;
    std::function<void(const ScratchDir&)> prepare;
  };
  const std::vector<Case> cases = {
      {"an older token, also linked elsewhere",
       [](const ScratchDir& dir) {
         dir.write_file(kTokenFile, "old");
         ASSERT_EQ(::link((dir / kTokenFile).c_str(), (dir / "ipc/before").c_str()), 0);
       }},
      {"a symbolic link",
       [](const ScratchDir& dir) {
         dir.write_file("ipc/before", "old");
         ASSERT_EQ(::symlink("before", (dir / kTokenFile).c_str()), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.make_dirs("ipc");
    ASSERT_EQ(::chmod((dir / "ipc").c_str(), 0700), 0);
    ASSERT_NO_FATAL_FAILURE(c.prepare(dir));
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);
    EXPECT_EQ(read_file(dir / "ipc/before").value(), "old");
    EXPECT_EQ(mode_of(dir / kTokenFile) & (S_IFMT | 07777), S_IFREG | 0600u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "ipc")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"before", "vellumkeep-native.sock", "vellumkeep-native.token"}));
  }
}

}  // namespace
}  // namespace vk::testing

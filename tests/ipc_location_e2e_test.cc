// Where the host looks for the application, through real environment
// variables: the order of the candidates, trimming, non-UTF-8 values, the
// home directory from the passwd database, the refusal of temporary
// directories, the token file, and connecting.

#include <errno.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "native_messaging/unique_fd.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

const std::string kPing = R"({"command":"ping","id":1})";
const std::string kPong = R"({"command":"ping","id":1,"reply":"pong"})";
const std::string kNoPrivateDir = "IPC path: no private user directory available";
const std::string kRefused =
    "IPC: refusing to connect to /tmp socket \xe2\x80\x94 use a private path (VK_IPC_SOCKET_PATH).";

// Every character that counts as white space around a value, and none that
// merely looks like it.
const std::string kAllWhiteSpace =
    "\t\n\v\f\r \u0085\u00a0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009"
    "\u200a\u2028\u2029\u202f\u205f\u3000";

std::string group_container_socket(std::string_view home) {
  return std::string(home) + "/Library/Group Containers/" + std::string(kAppGroupId) +
         "/IPC/vellumkeep-native.sock";
}

JsonValue id1() { return JsonValue(std::uint64_t{1}); }

// The socket the host resolves is the one the app listens on: a ping gets
// its pong.
TEST(IpcLocation, CandidatesInOrderWithTrimmingAndNonUtf8Values) {
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::string app_socket;
  };
  const std::string h = group_container_socket("h");
  const std::vector<Case> cases = {
      {"socket variable, trimmed of every white-space character",
       {"VK_IPC_SOCKET_PATH=" + kAllWhiteSpace + "v/s.sock" + kAllWhiteSpace}, "v/s.sock"},
      {"socket variable wins over the container and home",
       {"VK_IPC_SOCKET_PATH=v/s.sock", "VELLUMKEEP_APP_GROUP_CONTAINER=c", "HOME=h"}, "v/s.sock"},
      {"socket variable of blanks only is ignored",
       {"VK_IPC_SOCKET_PATH= \t\u3000", "VELLUMKEEP_APP_GROUP_CONTAINER=c"}, "c/IPC/vellumkeep-native.sock"},
      {"socket variable that is not UTF-8 is ignored",
       {"VK_IPC_SOCKET_PATH=v/s\xff.sock", "VELLUMKEEP_APP_GROUP_CONTAINER=c"}, "c/IPC/vellumkeep-native.sock"},
      {"container with trailing slashes", {"VELLUMKEEP_APP_GROUP_CONTAINER=c///", "HOME=h"},
       "c/IPC/vellumkeep-native.sock"},
      {"container is not trimmed", {"VELLUMKEEP_APP_GROUP_CONTAINER= c"}, " c/IPC/vellumkeep-native.sock"},
      {"container of slashes only is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=///", "HOME=h"}, h},
      {"empty container is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=", "HOME=h"}, h},
      {"container that is not UTF-8 is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=c\xff", "HOME=h"}, h},
      {"home wins over the runtime directory", {"HOME=h", "XDG_RUNTIME_DIR=x"}, h},
      {"home is taken as raw bytes", {"HOME=h\xfe"}, group_container_socket("h\xfe")},
      {"home is not trimmed", {"HOME= h"}, group_container_socket(" h")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, {}, c.app_socket);
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing), c.env);
    EXPECT_EQ(host.out, frame(kPong));
    EXPECT_EQ(host.err, "");
    EXPECT_TRUE(host.status.ok());
  }
}

TEST(IpcLocation, CharactersOutsideTheWhiteSpaceListAreKept) {
  for (std::string_view look_alike : {"\u200b", "\ufeff", "\u180e"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(look_alike)));
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, {}, "v/s.sock");
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing), {"VK_IPC_SOCKET_PATH=" + std::string(look_alike) + "v/s.sock"});
    EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(ENOENT), id1())));
    EXPECT_EQ(host.err, cannot_open_line(os_error(ENOENT)));
  }
}

// HOME unset or empty: the passwd entry's directory. The app has to listen
// in the real home directory for that, so the test runs only where nothing
// of the application group's exists there yet, and the app removes all it
// created when it stops.
TEST(IpcLocation, HomeFromThePasswdEntryWhenHomeIsUnsetOrEmpty) {
  const passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || std::string_view(entry->pw_dir).size() <= 1) {
    GTEST_SKIP() << "the real user has no passwd entry with a home directory";
  }
  const std::string home = entry->pw_dir;
  const std::string group_dir = home + "/Library/Group Containers/" + std::string(kAppGroupId);
  std::error_code error;
  if (std::filesystem::exists(group_dir, error) || error) {
    GTEST_SKIP() << group_dir << " exists; it belongs to a real application and is left alone";
  }
  if (::access(home.c_str(), W_OK) != 0) GTEST_SKIP() << home << " is not writable";
  const std::string socket = group_container_socket(home);
  if (socket.size() >= sizeof(sockaddr_un{}.sun_path)) GTEST_SKIP() << socket << " is too long for a socket";

  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir, {}, socket);
  ASSERT_TRUE(app);
  for (const std::vector<std::string>& env : {std::vector<std::string>{}, std::vector<std::string>{"HOME="},
                                              std::vector<std::string>{"HOME=", "XDG_RUNTIME_DIR=x"}}) {
    SCOPED_TRACE(env.empty() ? "HOME unset" : env.back());
    ChildOutput host = run_host(dir, frame(kPing), env);
    EXPECT_EQ(host.out, frame(kPong));
    EXPECT_EQ(host.err, "");
  }
  Result<ExitStatus> stopped = app->stop();
  ASSERT_TRUE(stopped) << stopped.error().text();
  EXPECT_FALSE(std::filesystem::exists(group_dir, error));
}

// A user id without a passwd entry, for runs with no home directory at all.
std::optional<uid_t> uid_without_passwd_entry() {
  if (::geteuid() != 0) return std::nullopt;
  for (uid_t uid = 61'000; uid < 61'100; ++uid) {
    if (::getpwuid(uid) == nullptr) return uid;
  }
  return std::nullopt;
}

// With no home directory the runtime directory is next; without that there
// is no location.
TEST(IpcLocation, RuntimeDirectoryWhenThereIsNoHome) {
  std::optional<uid_t> uid = uid_without_passwd_entry();
  if (!uid) GTEST_SKIP() << "needs root, to run the host as a user without a passwd entry";
  {
    // The build tree must be open to another user for the programs to run.
    ScratchDir dir;
    dir.give_to(*uid);
    for (const char* program : {kHostPath, kStandInAppPath}) {
      ChildOptions probe;
      probe.argv = {program, "--help"};
      probe.cwd = dir.path();
      probe.stdin_mode = StdStream::closed;
      probe.uid = uid;
      Result<ChildOutput> ran = run_child(probe);
      if (!ran) GTEST_SKIP() << "another user cannot run the programs here: " << ran.error().text();
    }
  }
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::optional<std::string> app_socket;  // none: no location
  };
  const std::vector<Case> cases = {
      {"runtime directory", {"XDG_RUNTIME_DIR=x"}, "x/tarnwick/vellumkeep-native.sock"},
      {"runtime directory trimmed, HOME empty", {"HOME=", "XDG_RUNTIME_DIR=\u3000 x\t\u2029"},
       "x/tarnwick/vellumkeep-native.sock"},
      {"runtime directory with a trailing slash", {"XDG_RUNTIME_DIR=x/"}, "x/tarnwick/vellumkeep-native.sock"},
      {"nothing set", {}, std::nullopt},
      {"runtime directory of blanks only", {"XDG_RUNTIME_DIR= \t "}, std::nullopt},
      {"runtime directory not UTF-8", {"XDG_RUNTIME_DIR=x\xff"}, std::nullopt},
      {"container of slashes only", {"VELLUMKEEP_APP_GROUP_CONTAINER=/", "HOME="}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.give_to(*uid);
    std::optional<StandInApp> app =
        c.app_socket ? StandInApp::start(dir, {}, *c.app_socket, uid) : std::nullopt;
    ASSERT_EQ(app.has_value(), c.app_socket.has_value());
    ChildOptions options = host_options(dir, c.env);
    options.uid = uid;
    Result<ChildOutput> host = run_child(options, frame(kPing));
    ASSERT_TRUE(host) << host.error().text();
    if (c.app_socket) {
      EXPECT_EQ(host->out, frame(kPong));
      EXPECT_EQ(host->err, "");
    } else {
      EXPECT_EQ(host->out, frame(cannot_reach_reply(kNoPrivateDir, id1())));
      EXPECT_EQ(host->err, cannot_open_line(kNoPrivateDir));
    }
    EXPECT_TRUE(host->status.ok());
  }
}

// Temporary directories are refused by name, before the token is read (none
// of these has a token file, yet the refusal is what is reported).
TEST(IpcLocation, TemporaryDirectoriesAreRefusedBeforeTheTokenIsRead) {
  struct Case {
    std::vector<std::string> env;
    bool refused;
  };
  const std::vector<Case> cases = {
      {{"VK_IPC_SOCKET_PATH=/tmp/x.sock"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp/vellumkeep-native.sock"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp/"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp//y"}, true},
      {{"VK_IPC_SOCKET_PATH=//tmp/y"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp/./y"}, true},
      {{"VK_IPC_SOCKET_PATH=/./tmp/y"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmp/a/b/c.sock"}, true},
      {{"VK_IPC_SOCKET_PATH=/var/tmp/z"}, true},
      {{"VK_IPC_SOCKET_PATH=/var//tmp/z"}, true},
      {{"VK_IPC_SOCKET_PATH= /tmp/x.sock "}, true},
      {{"VELLUMKEEP_APP_GROUP_CONTAINER=/tmp/c"}, true},
      {{"HOME=/tmp/h"}, true},
      {{"HOME=/var/tmp"}, true},
      {{"VK_IPC_SOCKET_PATH=/tmpx/a.sock"}, false},
      {{"VK_IPC_SOCKET_PATH=/var/tmpx/a.sock"}, false},
      {{"VK_IPC_SOCKET_PATH=/private/tmp/x.sock"}, false},
      {{"VK_IPC_SOCKET_PATH=tmp/x.sock"}, false},
      {{"VK_IPC_SOCKET_PATH=/x/tmp/y.sock"}, false},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env.front());
    std::string detail = c.refused ? kRefused : os_error(ENOENT);
    ChildOutput host = run_host(dir, frame(kPing), c.env);
    EXPECT_EQ(host.out, frame(cannot_reach_reply(detail, id1())));
    EXPECT_EQ(host.err, cannot_open_line(detail));
  }
}

// The token file is read afresh for every request; its content is trimmed
// and must hold at least 32 bytes of UTF-8.
TEST(IpcToken, TokenFileContent) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  const std::string token = app->token();
  ASSERT_EQ(token.size(), 64u);
  const std::string wrong_token = error_reply("wrong auth_token", id1());
  struct Case {
    const char* name;
    std::string content;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"as the app wrote it", token + "\n", kPong},
      {"surrounded by white space, which is not sent", "  \t" + token + " \r\n\u3000\n", kPong},
      {"31 bytes and a newline", token.substr(0, 31) + "\n",
       cannot_reach_reply("IPC auth token missing or too short", id1())},
      {"31 bytes inside blanks", "   " + token.substr(0, 31) + "   ",
       cannot_reach_reply("IPC auth token missing or too short", id1())},
      {"empty", "", cannot_reach_reply("IPC auth token missing or too short", id1())},
      {"blanks only", " \n\t\u00a0", cannot_reach_reply("IPC auth token missing or too short", id1())},
      // 32 bytes are enough for the host; the app then judges the token.
      {"32 bytes", "\n" + token.substr(0, 32) + "\n", wrong_token},
      {"not UTF-8", token + "\xff", cannot_reach_reply("stream did not contain valid UTF-8", id1())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write_file(kTokenFile, c.content);
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(c.reply));
    EXPECT_TRUE(host.status.ok());
  }
  {
    SCOPED_TRACE("a directory");
    std::filesystem::remove(dir / kTokenFile);
    dir.make_dirs(kTokenFile);
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(EISDIR), id1())));
    EXPECT_EQ(host.err, cannot_open_line(os_error(EISDIR)));
    std::filesystem::remove(dir / kTokenFile);
  }
  {
    SCOPED_TRACE("missing");
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(ENOENT), id1())));
    EXPECT_EQ(host.err, cannot_open_line(os_error(ENOENT)));
  }
}

TEST(IpcToken, RewrittenTokenTakesEffectWithTheNextRequest) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  dir.write_file(kTokenFile, "short\n");
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();

  ASSERT_TRUE(host->write_stdin(frame(kPing)));
  std::string refused = frame(cannot_reach_reply("IPC auth token missing or too short", id1()));
  Result<std::string> first = host->read_stdout_exact(refused.size());
  ASSERT_TRUE(first) << first.error().text();
  EXPECT_EQ(*first, refused);

  dir.write_file(kTokenFile, app->token() + "\n");
  ASSERT_TRUE(host->write_stdin(frame(kPing)));
  Result<std::string> second = host->read_stdout_exact(frame(kPong).size());
  ASSERT_TRUE(second) << second.error().text();
  EXPECT_EQ(*second, frame(kPong));

  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_EQ(rest->err, cannot_open_line("IPC auth token missing or too short"));
  EXPECT_TRUE(rest->status.ok());
}

TEST(IpcConnect, ConnectFailures) {
  ScratchDir dir;
  dir.write_file(kTokenFile, std::string(40, 't'));
  {
    SCOPED_TRACE("token present, no socket");
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(ENOENT), id1())));
    EXPECT_EQ(host.err, cannot_open_line(os_error(ENOENT)));
  }
  {
    SCOPED_TRACE("a socket that nobody listens on");
    UniqueFd unbound(::socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_TRUE(unbound.valid());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir / kSocket;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(unbound.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << os_error(errno);
    unbound = UniqueFd();  // the file stays, nobody listens
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(ECONNREFUSED), id1())));
    EXPECT_EQ(host.err, cannot_open_line(os_error(ECONNREFUSED)));
  }
}

// A path fills the socket address's path field only with room for its
// terminating zero byte.
TEST(IpcConnect, SocketPathMustFitTheAddress) {
  const std::size_t field = sizeof(sockaddr_un{}.sun_path);
  for (std::size_t length : {field - 1, field, field + 20}) {
    SCOPED_TRACE(length);
    ScratchDir dir;
    std::string socket_dir(length - 2, 'd');
    std::string socket = socket_dir + "/s";
    dir.write_file(socket_dir + "/vellumkeep-native.token", std::string(40, 't'));
    ChildOutput host = run_host(dir, frame(kPing), {"VK_IPC_SOCKET_PATH=" + socket});
    std::string detail = length < field ? os_error(ENOENT) : "path must be shorter than SUN_LEN";
    EXPECT_EQ(host.out, frame(cannot_reach_reply(detail, id1())));
    EXPECT_EQ(host.err, cannot_open_line(detail));
  }
}

}  // namespace
}  // namespace vk::testing

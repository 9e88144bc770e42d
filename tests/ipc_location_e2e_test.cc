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
#include "tests/location_cases.h"

namespace vk::testing {
namespace {

const std::string kPing = R"({"command":"ping","id":1})";
const std::string kPong = R"({"command":"ping","id":1,"reply":"pong"})";

JsonValue id1() { return JsonValue(std::uint64_t{1}); }

// The socket the host resolves is the one the app listens on: a ping gets
// its pong.
TEST(IpcLocation, CandidatesInOrderWithTrimmingAndNonUtf8Values) {
  for (const LocationCase& c : candidate_cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, {}, *c.socket);
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing), c.env);
    EXPECT_EQ(host.out, frame(kPong));
    EXPECT_EQ(host.err, "");
    EXPECT_TRUE(host.status.ok());
  }
}

TEST(IpcLocation, CharactersOutsideTheWhiteSpaceListAreKept) {
  for (const LocationCase& c : look_alike_white_space_cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, {}, "v/s.sock");
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing), c.env);
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

// With no home directory the runtime directory is next; without that there
// is no location.
TEST(IpcLocation, RuntimeDirectoryWhenThereIsNoHome) {
  Result<uid_t> uid = user_without_home();
  if (!uid) GTEST_SKIP() << uid.error().text();
  for (const LocationCase& c : runtime_directory_cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.give_to(*uid);
    std::optional<StandInApp> app = c.socket ? StandInApp::start(dir, {}, *c.socket, *uid) : std::nullopt;
    ASSERT_EQ(app.has_value(), c.socket.has_value());
    ChildOptions options = host_options(dir, c.env);
    options.uid = *uid;
    Result<ChildOutput> host = run_child(options, frame(kPing));
    ASSERT_TRUE(host) << host.error().text();
    if (c.socket) {
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
  ScratchDir dir;
  for (const LocationCase& c : temporary_directory_cases()) {
    SCOPED_TRACE(c.name);
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

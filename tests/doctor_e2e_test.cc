// `vellumkeep-native --doctor`: it locates the socket as requests do, case
// for case with the location tests, says a request would reach the
// application exactly when one does, sends nothing and shows no token.

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "native_messaging/json.h"
#include "unicode/utf8.h"
#include "native_messaging/unique_fd.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"
#include "tests/location_cases.h"
#include "tests/scripted_peer.h"

namespace vk::testing {
namespace {

constexpr int kReachable = 0;
constexpr int kUnreachable = 1;

struct DoctorRun {
  ChildOutput output;
  JsonValue report;  // the --json report; null for the plain text
};

DoctorRun run_doctor(const ScratchDir& dir, std::vector<std::string> env, bool json = true,
                     std::optional<uid_t> uid = std::nullopt) {
  ChildOptions options = host_options(dir, std::move(env));
  options.argv.push_back("--doctor");
  if (json) options.argv.push_back("--json");
  options.uid = uid;
  Result<ChildOutput> ran = run_child(options);
  if (!ran) {
    ADD_FAILURE() << "running the doctor: " << ran.error().text();
    return {};
  }
  DoctorRun run{std::move(ran).value(), JsonValue()};
  EXPECT_EQ(run.output.err, "");
  if (json) {
    Result<JsonValue, JsonParseError> report = parse_json(run.output.out);
    EXPECT_TRUE(report) << run.output.out;
    if (report) run.report = std::move(report).value();
  }
  return run;
}

// The report's member at `path`, or null.
JsonValue at(const JsonValue& report, std::initializer_list<std::string_view> path) {
  JsonValue value = report;
  for (std::string_view key : path) {
    std::optional<JsonValue> member = value.member(key);
    if (!member) return JsonValue();
    value = std::move(*member);
  }
  return value;
}

// The text the report holds at `path`; "null" when it holds none.
std::string text_at(const JsonValue& report, std::initializer_list<std::string_view> path) {
  return at(report, path).as_string().value_or("null");
}

// A path as the report shows it: bytes that are not UTF-8 as \xNN (the
// table's paths hold no backslashes or control characters).
std::string shown(const std::string& path) {
  if (is_valid_utf8(path)) return path;
  std::string out;
  for (char c : path) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
      continue;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
  }
  return out;
}

// Every case of the location tests: the socket the doctor names, the
// refusal, and its exit status with and without an application there.
TEST(Doctor, LocatesTheSocketAsRequestsDo) {
  struct Row {
    LocationCase location;
    bool app_listens;
    std::optional<uid_t> uid;  // run as this user (no home directory)
  };
  std::vector<Row> rows;
  for (LocationCase& c : candidate_cases()) rows.push_back({std::move(c), true, std::nullopt});
  for (LocationCase& c : look_alike_white_space_cases()) rows.push_back({std::move(c), false, std::nullopt});
  for (LocationCase& c : temporary_directory_cases()) rows.push_back({std::move(c), false, std::nullopt});
  if (Result<uid_t> homeless = user_without_home()) {
    for (LocationCase& c : runtime_directory_cases()) {
      const bool located = c.socket.has_value();
      rows.push_back({std::move(c), located, *homeless});
    }
  } else {
    std::printf("runtime-directory rows left out: %s\n", homeless.error().text().c_str());
  }

  for (const Row& row : rows) {
    const LocationCase& c = row.location;
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    if (row.uid) dir.give_to(*row.uid);
    std::optional<StandInApp> app =
        row.app_listens ? StandInApp::start(dir, {}, *c.socket, row.uid) : std::nullopt;
    ASSERT_EQ(app.has_value(), row.app_listens);
    DoctorRun run = run_doctor(dir, c.env, true, row.uid);
    EXPECT_EQ(text_at(run.report, {"location", "socket"}), c.socket ? shown(*c.socket) : "null");
    const std::string problem = c.refused ? kRefused : c.socket ? "null" : kNoPrivateDir;
    EXPECT_EQ(text_at(run.report, {"location", "problem"}), problem);
    // Past a refusal a request reads and connects nothing, nor does the doctor.
    EXPECT_EQ(at(run.report, {"token_file"}).kind() == JsonValue::Kind::null, problem != "null");
    EXPECT_EQ(run.output.status.code, row.app_listens ? kReachable : kUnreachable) << run.output.out;
    EXPECT_TRUE(run.output.status.exited);
  }
}

// Values and paths come from the environment and the disk: a terminal gets
// none of their control characters, and the report stays UTF-8.
TEST(Doctor, PrintsNothingRawToTheTerminal) {
  ScratchDir dir;
  DoctorRun run = run_doctor(dir, {"VK_IPC_SOCKET_PATH=\t\x85", "HOME=h\x1b]0;x\x07\\\xff"}, false);
  EXPECT_EQ(run.output.status.code, kUnreachable);
  EXPECT_TRUE(is_valid_utf8(run.output.out));
  for (char c : run.output.out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << run.output.out;
  EXPECT_NE(run.output.out.find("set to \"\\x09\\x85\", not UTF-8"), std::string::npos) << run.output.out;
  EXPECT_NE(run.output.out.find("socket: h\\x1b]0;x\\x07\\\\\\xff/Library/"), std::string::npos) << run.output.out;
}

// A socket file that nobody listens on.
void bind_without_listening(const ScratchDir& dir) {
  dir.make_dirs("ipc");
  UniqueFd unbound(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = dir / kSocket;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(unbound.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << os_error(errno);
}

PeerAnswer answer_ok(std::size_t, const std::string&) { return PeerAnswer{reply_frame(R"({"ok":1})")}; }

// Each way the token file and the listener can stand, judged by the doctor
// and then by a real request: the doctor says "reachable" exactly when the
// request reaches the application.
TEST(Doctor, ReachableExactlyWhenARequestIs) {
  constexpr uid_t kOtherUser = 65533;
  struct Stage {
    ScratchDir dir;
    std::optional<StandInApp> app;
    std::unique_ptr<ScriptedPeer> peer;
    std::string token = distinctive_token();

    void start_app() {
      std::optional<StandInApp> started = StandInApp::start(dir);
      ASSERT_TRUE(started);
      token = started->token();
      app.emplace(std::move(*started));
    }
  };
  struct Row {
    const char* name;
    std::function<void(Stage&)> arrange;
    std::string token_problem;     // "null" for none
    std::string listener_problem;  // "null" for none
    bool needs_root = false;
  };
  const std::vector<Row> rows = {
      {"the stand-in app listens",
       [](Stage& s) { s.start_app(); },
       "null", "null"},
      {"the stand-in app has stopped",
       [](Stage& s) {
         ASSERT_NO_FATAL_FAILURE(s.start_app());
         ASSERT_TRUE(s.app->stop());
       },
       os_error(ENOENT), "cannot connect: " + os_error(ENOENT)},
      {"a socket file nobody listens on",
       [](Stage& s) {
         s.dir.write_file(kTokenFile, s.token);
         bind_without_listening(s.dir);
       },
       "null", "cannot connect: " + os_error(ECONNREFUSED)},
      {"a listener of this user, which receives nothing from the doctor",
       [](Stage& s) {
         s.dir.write_file(kTokenFile, s.token);
         s.peer = ScriptedPeer::listen(s.dir, kSocket, answer_ok);
       },
       "null", "null"},
      {"a token too short",
       [](Stage& s) {
         s.dir.write_file(kTokenFile, "short\n");
         s.peer = ScriptedPeer::listen(s.dir, kSocket, answer_ok);
       },
       "IPC auth token missing or too short", "null"},
      {"a directory for a token file",
       [](Stage& s) {
         s.dir.make_dirs(kTokenFile);
         s.peer = ScriptedPeer::listen(s.dir, kSocket, answer_ok);
       },
       os_error(EISDIR), "null"},
      {"a token file larger than a request frame",
       [](Stage& s) {
         s.dir.write_file(kTokenFile, s.token + std::string(1 << 20, 't'));
         s.peer = ScriptedPeer::listen(s.dir, kSocket, answer_ok);
       },
       "IPC auth token file too large (max 1MB)", "null"},
      {"a listener of another user",
       [](Stage& s) {
         s.dir.write_file(kTokenFile, s.token);
         ASSERT_EQ(::chmod(s.dir.path().c_str(), 0755), 0);
         ASSERT_EQ(::chown((s.dir / "ipc").c_str(), kOtherUser, kOtherUser), 0);
         s.peer = ScriptedPeer::listen_as(s.dir, kSocket, answer_ok, kOtherUser);
       },
       "null",
       "the listener runs as uid " + std::to_string(kOtherUser) + ", not as this user (uid " +
           std::to_string(::geteuid()) + "); the host sends it nothing",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.needs_root && ::geteuid() != 0) {
      std::printf("left out, needs root to listen as another user: %s\n", row.name);
      continue;
    }
    Stage stage;
    ASSERT_NO_FATAL_FAILURE(row.arrange(stage));
    DoctorRun run = run_doctor(stage.dir, {std::string(kSocketVariable)});
    EXPECT_EQ(text_at(run.report, {"location", "socket"}), kSocket);
    EXPECT_EQ(text_at(run.report, {"token_file", "problem"}), row.token_problem);
    EXPECT_EQ(text_at(run.report, {"listener", "problem"}), row.listener_problem);
    const bool reachable = row.token_problem == "null" && row.listener_problem == "null";
    EXPECT_EQ(at(run.report, {"reachable"}).as_bool(), reachable);
    EXPECT_EQ(run.output.status.code, reachable ? kReachable : kUnreachable);
    DoctorRun text = run_doctor(stage.dir, {std::string(kSocketVariable)}, false);
    EXPECT_EQ(text.output.status, run.output.status);
    EXPECT_NE(text.output.out.find(reachable ? "verdict: a request would reach the desktop application\n"
                                             : "verdict: a request would NOT reach"),
              std::string::npos)
        << text.output.out;
    for (const ChildOutput* output : {&run.output, &text.output}) {
      EXPECT_EQ(output->out.find(stage.token.substr(0, 16)), std::string::npos) << "the token was shown";
    }
    if (stage.peer) {
      // The doctor's two connections carried nothing.
      for (const PeerExchange& exchange : stage.peer->exchanges()) {
        EXPECT_FALSE(exchange.request_read);
        EXPECT_EQ(exchange.after, "");
      }
    }

    ChildOutput host = run_host(stage.dir, frame(R"({"command":"ping","id":1})"));
    const bool host_replied_itself = host.out.find("Cannot reach Tarnwick") != std::string::npos ||
                                     host.out.find("Tarnwick IPC error") != std::string::npos;
    EXPECT_EQ(!host_replied_itself, reachable) << host.out;
  }
}

// With --browsers the doctor lists the manifests of our name, as the
// installer's list does, and a request counts as arriving only when one of
// them lets a browser start this very host.
TEST(Doctor, BrowsersNeedAWorkingManifestNamingThisHost) {
  const std::string chrome_manifest = "home/.config/google-chrome/NativeMessagingHosts/com.tarnwick.vellumkeep.json";
  const auto manifest_naming = [](std::string_view host) {
    return R"({"allowed_origins":["chrome-extension://abcdefghijklmnopabcdefghijklmnop/"],)"
           R"("description":"d","name":"com.tarnwick.vellumkeep","path":")" +
           std::string(host) + R"(","type":"stdio"})";
  };
  char* resolved = ::realpath(kHostPath, nullptr);
  ASSERT_NE(resolved, nullptr);
  const std::string host(resolved);
  std::free(resolved);
  struct Row {
    const char* name;
    std::optional<std::string> manifest;
    std::optional<bool> this_host;  // of the one manifest listed
  };
  const std::vector<Row> rows = {
      {"no manifest", std::nullopt, std::nullopt},
      {"a manifest naming this host", manifest_naming(host), true},
      {"a manifest naming a host that is gone", manifest_naming("/nonexistent/vellumkeep-native"), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    dir.make_dirs("home");
    if (row.manifest) dir.write_file(chrome_manifest, *row.manifest);
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);
    ChildOptions options = host_options(dir, {std::string(kSocketVariable), "HOME=" + (dir / "home")});
    options.argv.insert(options.argv.end(), {"--doctor", "--json", "--browsers"});
    Result<ChildOutput> ran = run_child(options);
    ASSERT_TRUE(ran) << ran.error().text();
    Result<JsonValue, JsonParseError> report = parse_json(ran->out);
    ASSERT_TRUE(report) << ran->out;
    const bool usable = row.this_host.value_or(false);
    EXPECT_EQ(at(*report, {"browsers", "usable"}).as_bool(), usable) << ran->out;
    EXPECT_EQ(ran->status.code, usable ? kReachable : kUnreachable) << ran->out;
    const JsonArray manifests = at(*report, {"browsers", "manifests"}).as_array().value_or(JsonArray());
    ASSERT_EQ(manifests.size(), row.manifest ? 1u : 0u) << ran->out;
    if (row.this_host) {
      EXPECT_EQ(text_at(manifests[0], {"path"}), dir / chrome_manifest);
      EXPECT_EQ(at(manifests[0], {"this_host"}).as_bool(), *row.this_host);
    }
  }
}

}  // namespace
}  // namespace vk::testing

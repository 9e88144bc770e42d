// Faults placed on purpose around the real host: a peer that stops at every
// byte of its reply, lengths at and around the limit from both sides, a
// token file and a socket path that change under the host, standard output
// closing mid-stream and standard descriptors closed at start. In every case
// the host answers each request once or ends as designed, and the token
// never shows in what it writes.

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/protocol.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"
#include "tests/scripted_peer.h"

namespace vk::testing {
namespace {

constexpr std::uint32_t kLimit = 1'048'576;
// A host that allocated an announced 4 GiB body before checking it would
// pass this by far; an honest one, sanitizers and valgrind included, stays
// well below.
constexpr long kMaxChildRssKib = 512 * 1024;

JsonValue u64(std::uint64_t n) { return JsonValue(n); }

std::string request(std::uint64_t id) { return R"({"command":"x","id":)" + std::to_string(id) + "}"; }

// Peak resident size of the children this test has waited for.
long max_child_rss_kib() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
#if defined(__APPLE__)
  return usage.ru_maxrss / 1024;  // bytes there, KiB on Linux
#else
  return usage.ru_maxrss;
#endif
}

// A scratch directory holding the token, a peer on the socket the host looks
// at, and the host's environment.
struct Stage {
  explicit Stage(ScriptedPeer::Responder responder, std::string socket = std::string(kSocket)) {
    dir.write_file(kTokenFile, distinctive_token() + "\n");
    peer = ScriptedPeer::listen(dir, socket, std::move(responder));
  }
  ScratchDir dir;
  std::unique_ptr<ScriptedPeer> peer;
};

// Every offset at which the peer can stop sending a small reply: each stop
// is reported as a short read, the whole reply is relayed, and the host goes
// on with the next request either way.
TEST(PeerFaults, PeerStoppingAtEveryByteOfItsReply) {
  const std::string reply = R"({"id":1,"ok":true})";
  const std::string whole = reply_frame(reply);
  Stage stage([&](std::size_t index, const std::string&) {
    return PeerAnswer{whole.substr(0, index)};
  });
  ASSERT_TRUE(stage.peer);
  std::string input, expected_out, expected_err;
  for (std::size_t offset = 0; offset <= whole.size(); ++offset) {
    input += frame(request(offset));
    if (offset < whole.size()) {
      expected_out += frame(ipc_error_reply("failed to fill whole buffer", u64(offset)));
      expected_err += ipc_error_line("failed to fill whole buffer");
    } else {
      expected_out += frame(reply);
    }
  }
  ChildOutput host = run_host(stage.dir, input);
  EXPECT_EQ(host.out, expected_out);
  EXPECT_EQ(host.err, expected_err);
  EXPECT_TRUE(host.status.ok()) << host.status.describe();
  expect_no_token(host);
  std::vector<PeerExchange> seen = stage.peer->exchanges();
  ASSERT_EQ(seen.size(), whole.size() + 1);
  for (const PeerExchange& exchange : seen) {
    EXPECT_TRUE(exchange.request_read);
    EXPECT_EQ(exchange.after, "") << "the host sent more than one request on a connection";
  }
}

// Lengths the application announces. Refused lengths are refused as soon as
// the length is read: the peer keeps the connection open and sends no body,
// so a host that waited for it would hang.
TEST(AnnouncedLengths, FromTheApplication) {
  const std::string full_size_string = "\"" + std::string(kLimit - 2, 'x') + "\"";
  // Numbers are written in full: 1e15 as 1000000000000000.0. The first
  // reply then needs 3,984,567 bytes, the next two the limit and one more.
  std::string many_1e15 = "[1e15";
  while (many_1e15.size() < kLimit - 6) many_1e15 += ",1e15";
  many_1e15 += "]";
  const std::string padding(kLimit - 23, 'x');
  struct Case {
    const char* name;
    PeerAnswer answer;
    std::string reply;  // the body the host writes back
  };
  const std::vector<Case> cases = {
      {"0", {length_only(0)}, ipc_error_reply("EOF while parsing a value at line 1 column 0", u64(0))},
      {"1", {length_only(1) + "7"}, "7"},
      {"1,048,576", {length_only(kLimit) + full_size_string}, full_size_string},
      {"1,048,577", {length_only(kLimit + 1), false}, ipc_error_reply("IPC response too large", u64(3))},
      {"0xFFFFFFFF", {length_only(0xFFFFFFFF), false}, ipc_error_reply("IPC response too large", u64(4))},
      {"1,048,571 bytes that grow to 3,984,567", {reply_frame(many_1e15)},
       ipc_error_reply("IPC response too large", u64(5))},
      {"fewer bytes that grow to 1,048,576", {reply_frame("[\"" + padding + "\",1e15]")},
       "[\"" + padding + "\",1000000000000000.0]"},
      {"fewer bytes that grow to 1,048,577", {reply_frame("[\"" + padding + "x\",1e15]")},
       ipc_error_reply("IPC response too large", u64(7))},
  };
  ASSERT_EQ(many_1e15.size(), 1'048'571u);
  Stage stage([&](std::size_t index, const std::string&) { return cases.at(index).answer; });
  ASSERT_TRUE(stage.peer);
  Result<ChildProcess> host = ChildProcess::spawn(host_options(stage.dir));
  ASSERT_TRUE(host) << host.error().text();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    ASSERT_TRUE(host->write_stdin(frame(request(i))));
    Result<std::string> reply = read_host_frame(*host);
    ASSERT_TRUE(reply) << reply.error().text();
    EXPECT_EQ(reply->size(), cases[i].reply.size());
    EXPECT_TRUE(*reply == cases[i].reply) << reply->substr(0, 200);
    expect_no_token(*reply, "standard output");
  }
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_EQ(rest->err, ipc_error_line("EOF while parsing a value at line 1 column 0") +
                           ipc_error_line("IPC response too large") + ipc_error_line("IPC response too large") +
                           ipc_error_line("IPC response too large") + ipc_error_line("IPC response too large"));
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
  expect_no_token(*rest);
  EXPECT_LT(max_child_rss_kib(), kMaxChildRssKib);
}

// Lengths the browser announces. A length above the limit ends the host at
// once, with standard input still open and no body sent.
TEST(AnnouncedLengths, FromTheBrowser) {
  const std::string full_size_object = "{\"id\":5,\"pad\":\"" + std::string(kLimit - 17, 'x') + "\"}";
  const std::string full_size_string = "\"" + std::string(kLimit - 2, 'x') + "\"";
  ASSERT_EQ(full_size_object.size(), kLimit);
  struct Case {
    const char* name;
    std::string input;
    std::string reply;     // empty: the host ends without a reply
    std::string err;
    bool peer_gets_body;   // the application receives a request frame
  };
  const std::vector<Case> cases = {
      {"0", length_only(0), "", "", false},
      {"1", length_only(1) + "7", R"({"ok":1})", "", true},
      // With the token added the object is above the limit and is not sent.
      {"1,048,576, an object", length_only(kLimit) + full_size_object,
       ipc_error_reply("IPC request too large", u64(5)), ipc_error_line("IPC request too large"), false},
      // Only objects carry the token: a string of the limit goes as it is.
      {"1,048,576, a string", length_only(kLimit) + full_size_string, R"({"ok":1})", "", true},
      {"1,048,577", length_only(kLimit + 1), "", "", false},
      {"0xFFFFFFFF", length_only(0xFFFFFFFF), "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stage stage([](std::size_t, const std::string&) { return PeerAnswer{reply_frame(R"({"ok":1})")}; });
    ASSERT_TRUE(stage.peer);
    Result<ChildProcess> host = ChildProcess::spawn(host_options(stage.dir));
    ASSERT_TRUE(host) << host.error().text();
    ASSERT_TRUE(host->write_stdin(c.input));
    if (!c.reply.empty()) {
      Result<std::string> reply = read_host_frame(*host);
      ASSERT_TRUE(reply) << reply.error().text();
      EXPECT_EQ(*reply, c.reply);
      expect_no_token(*reply, "standard output");
    }
    if (c.reply.empty()) {
      // Standard input stays open: the host must end on what it already has.
      Result<ExitStatus> status = host->wait();
      ASSERT_TRUE(status) << status.error().text();
      EXPECT_TRUE(status->ok()) << status->describe();
      Result<std::string> more = host->read_stdout_exact(1);
      ASSERT_FALSE(more);
      EXPECT_EQ(more.error().text(), "failed to fill whole buffer");
    } else {
      Result<ChildOutput> rest = host->communicate();
      ASSERT_TRUE(rest) << rest.error().text();
      EXPECT_EQ(rest->out, "");
      EXPECT_EQ(rest->err, c.err);
      EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
      expect_no_token(*rest);
    }
    std::vector<PeerExchange> seen = stage.peer->exchanges();
    if (c.peer_gets_body) {
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_TRUE(seen[0].request_read);
      EXPECT_EQ(seen[0].request.size(), c.input.size() - 4) << "a non-object travels without the token";
    } else {
      for (const PeerExchange& exchange : seen) EXPECT_FALSE(exchange.request_read);
    }
  }
  EXPECT_LT(max_child_rss_kib(), kMaxChildRssKib);
}

// The host's user id: when the tests run as root, file modes do not stop
// root's reads, so the host runs as an ordinary user.
std::optional<uid_t> host_user() {
  if (::geteuid() != 0) return std::nullopt;
  return uid_t{65534};
}

// A change made between two requests, and the reply the request after it gets.
struct Step {
  const char* name;
  std::function<void()> change;
  std::string reply;
};

// Makes each change in turn, then sends one request and checks its reply.
void expect_reply_after_each(ChildProcess& host, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    ASSERT_TRUE(host.write_stdin(frame(R"({"command":"x"})")));
    Result<std::string> reply = read_host_frame(host);
    ASSERT_TRUE(reply) << reply.error().text();
    EXPECT_EQ(*reply, step.reply);
    expect_no_token(*reply, "standard output");
  }
}

// Each request reads the token file as it is at that moment.
TEST(TokenFileFaults, EachRequestSeesTheFileAsItIsThen) {
  const std::string first = distinctive_token();
  const std::string second = "a-second-token-written-by-a-restarted-application";
  const std::optional<uid_t> user = host_user();
  ScratchDir dir;
  const std::string token_path = dir / kTokenFile;
  auto chown_to_host = [&](const std::string& path) {
    if (user) {
      ASSERT_EQ(::lchown(path.c_str(), *user, static_cast<gid_t>(*user)), 0) << path;
    }
  };
  auto write_token = [&](std::string_view content) {
    dir.write_file(kTokenFile, content);
    chown_to_host(token_path);
  };
  write_token(first + "\n");
  if (user) dir.give_to(*user);
  auto responder = [&](std::size_t, const std::string& body) {
    Result<JsonValue, JsonParseError> request = parse_json(body);
    const std::optional<JsonValue> member = request ? request->member("auth_token") : std::nullopt;
    const std::optional<std::string> token = member ? member->as_string() : std::nullopt;
    std::string which = "none";
    if (token == first) which = "first";
    if (token == second) which = "second";
    return PeerAnswer{reply_frame(R"({"token":")" + which + "\"}")};
  };
  // The host gives its token only to a peer of its own user.
  std::unique_ptr<ScriptedPeer> peer = user ? ScriptedPeer::listen_as(dir, kSocket, responder, *user)
                                            : ScriptedPeer::listen(dir, kSocket, responder);
  ASSERT_TRUE(peer);

  auto seen = [](const char* which) { return std::string(R"({"token":")") + which + "\"}"; };
  std::vector<Step> steps = {
      {"as written", [] {}, seen("first")},
      {"rewritten in place", [&] { write_token("\n  " + second + "  \n"); }, seen("second")},
      {"replaced by rename",
       [&] {
         dir.write_file("ipc/new-token", first);
         chown_to_host(dir / "ipc/new-token");
         ASSERT_EQ(::rename((dir / "ipc/new-token").c_str(), token_path.c_str()), 0);
       },
       seen("first")},
      {"removed", [&] { ASSERT_EQ(::unlink(token_path.c_str()), 0); },
       cannot_reach_reply(os_error(ENOENT))},
      {"made a directory",
       [&] {
         ASSERT_EQ(::mkdir(token_path.c_str(), 0700), 0);
         chown_to_host(token_path);
       },
       cannot_reach_reply(os_error(EISDIR))},
      {"a file again", [&] { ASSERT_EQ(::rmdir(token_path.c_str()), 0); write_token(second); }, seen("second")},
      {"made unreadable", [&] { ASSERT_EQ(::chmod(token_path.c_str(), 0), 0); },
       cannot_reach_reply(os_error(EACCES))},
      {"readable again", [&] { ASSERT_EQ(::chmod(token_path.c_str(), 0600), 0); }, seen("second")},
      {"holding invalid UTF-8", [&] { write_token(first + "\xc3\x28"); },
       cannot_reach_reply("stream did not contain valid UTF-8")},
      {"holding a lone continuation byte", [&] { write_token("\x80" + first); },
       cannot_reach_reply("stream did not contain valid UTF-8")},
      {"valid again", [&] { write_token(first); }, seen("first")},
      // Neither a FIFO nor an endless device may stop or exhaust the host.
      {"a FIFO nobody writes",
       [&] {
         ASSERT_EQ(::unlink(token_path.c_str()), 0);
         ASSERT_EQ(::mkfifo(token_path.c_str(), 0600), 0);
         chown_to_host(token_path);
       },
       cannot_reach_reply("IPC auth token file is not a regular file")},
      {"an endless device",
       [&] {
         ASSERT_EQ(::unlink(token_path.c_str()), 0);
         ASSERT_EQ(::symlink("/dev/zero", token_path.c_str()), 0);
       },
       cannot_reach_reply("IPC auth token file is not a regular file")},
      {"1 MiB of text around the token",
       [&] {
         ASSERT_EQ(::unlink(token_path.c_str()), 0);
         write_token(std::string(kLimit - 1 - second.size(), ' ') + second + "\n");
       },
       seen("second")},
      {"one byte more, which no request frame could hold",
       [&] { write_token(std::string(kLimit - second.size(), ' ') + second + "\n"); },
       cannot_reach_reply("IPC auth token file too large (max 1MB)")},
  };

  ChildOptions options = host_options(dir);
  options.uid = user;
  Result<ChildProcess> host = ChildProcess::spawn(options);
  ASSERT_TRUE(host) << host.error().text();
  ASSERT_NO_FATAL_FAILURE(expect_reply_after_each(*host, steps));
  // Each error reply has its diagnostic line.
  std::string expected_err;
  for (const Step& step : steps) {
    if (step.reply.rfind("{\"error\"", 0) == 0) {
      Result<JsonValue, JsonParseError> parsed = parse_json(step.reply);
      ASSERT_TRUE(parsed);
      const std::string text = parsed->member("error").value().as_string().value();
      expected_err += cannot_open_line(text.substr(text.find("Detail: ") + 8));
    }
  }
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_EQ(rest->err, expected_err);
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
  expect_no_token(*rest);
}

// What the socket path names may change between requests too.
TEST(SocketPathFaults, WhatThePathNamesBetweenRequests) {
  const std::string target = "ipc/target";
  Stage stage([](std::size_t, const std::string&) { return PeerAnswer{reply_frame(R"({"ok":1})")}; });
  ASSERT_TRUE(stage.peer);
  const std::string path = stage.dir / target;
  std::vector<Step> steps = {
      {"nothing there", [] {}, cannot_reach_reply(os_error(ENOENT))},
      {"a regular file", [&] { stage.dir.write_file(target, "not a socket"); },
       cannot_reach_reply(os_error(ECONNREFUSED))},
      {"a directory",
       [&] {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
       },
       cannot_reach_reply(os_error(ECONNREFUSED))},
      {"a dangling name",
       [&] {
         ASSERT_EQ(::rmdir(path.c_str()), 0);
         ASSERT_EQ(::symlink("gone.sock", path.c_str()), 0);
       },
       cannot_reach_reply(os_error(ENOENT))},
      {"a name for the live socket",
       [&] {
         ASSERT_EQ(::unlink(path.c_str()), 0);
         ASSERT_EQ(::symlink("vellumkeep-native.sock", path.c_str()), 0);
       },
       R"({"ok":1})"},
  };
  Result<ChildProcess> host = ChildProcess::spawn(host_options(stage.dir, {"VK_IPC_SOCKET_PATH=" + target}));
  ASSERT_TRUE(host) << host.error().text();
  ASSERT_NO_FATAL_FAILURE(expect_reply_after_each(*host, steps));
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_EQ(rest->err, cannot_open_line(os_error(ENOENT)) + cannot_open_line(os_error(ECONNREFUSED)) +
                           cannot_open_line(os_error(ECONNREFUSED)) + cannot_open_line(os_error(ENOENT)));
  EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
  expect_no_token(*rest);
}

// A path of exactly the longest length the socket address holds reaches a
// live application; one byte more is refused before any connection.
TEST(SocketPathFaults, PathAtThePlatformLimit) {
  const std::size_t field = sizeof(sockaddr_un{}.sun_path);
  for (std::size_t length : {field - 1, field}) {
    SCOPED_TRACE(length);
    const std::string socket = std::string(length - 2, 'd') + "/s";
    ScratchDir dir;
    dir.write_file(std::string(length - 2, 'd') + "/vellumkeep-native.token", distinctive_token());
    std::unique_ptr<ScriptedPeer> peer;
    if (length < field) {
      peer = ScriptedPeer::listen(dir, socket, [](std::size_t, const std::string&) {
        return PeerAnswer{reply_frame(R"({"ok":1})")};
      });
      ASSERT_TRUE(peer);
    }
    ChildOutput host = run_host(dir, frame(request(1)), {"VK_IPC_SOCKET_PATH=" + socket});
    if (length < field) {
      EXPECT_EQ(host.out, frame(R"({"ok":1})"));
      EXPECT_EQ(host.err, "");
      ASSERT_EQ(peer->exchanges().size(), 1u);
    } else {
      EXPECT_EQ(host.out, frame(cannot_reach_reply("path must be shorter than SUN_LEN", u64(1))));
      EXPECT_EQ(host.err, cannot_open_line("path must be shorter than SUN_LEN"));
    }
    EXPECT_TRUE(host.status.ok()) << host.status.describe();
    expect_no_token(host);
  }
}

// The browser closes the host's standard output after some replies: the
// next reply fails, is reported once, and nothing more is read or relayed.
TEST(StdoutFaults, ClosedMidStream) {
  struct Case {
    std::size_t pad;  // size of the second reply's padding
    const char* stage;
  };
  // {"id":2,"pad":"…"} of 100 bytes fails in the flush, of 2,000 in the write.
  for (const Case& c : {Case{83, "stdout flush error: "}, Case{1983, "stdout write error: "}}) {
    SCOPED_TRACE(c.stage);
    Stage stage([](std::size_t, const std::string& body) {
      // Echo the request without the token.
      Result<JsonValue, JsonParseError> parsed = parse_json(body);
      JsonObject echo = parsed ? parsed->as_object().value_or(JsonObject()) : JsonObject();
      echo.erase("auth_token");
      return PeerAnswer{reply_frame(serialize_json(JsonValue(echo)))};
    });
    ASSERT_TRUE(stage.peer);
    Result<ChildProcess> host = ChildProcess::spawn(host_options(stage.dir));
    ASSERT_TRUE(host) << host.error().text();
    ASSERT_TRUE(host->write_stdin(frame(request(1))));
    Result<std::string> first = read_host_frame(*host);
    ASSERT_TRUE(first) << first.error().text();
    EXPECT_EQ(*first, request(1));
    host->close_stdout();
    const std::string second = R"({"id":2,"pad":")" + std::string(c.pad, 'p') + "\"}";
    Result<ChildOutput> rest = host->communicate(frame(second) + frame(request(3)));
    ASSERT_TRUE(rest) << rest.error().text();
    EXPECT_EQ(rest->err, "[vellumkeep-native] stdout write: " + std::string(c.stage) + os_error(EPIPE) + "\n");
    EXPECT_TRUE(rest->status.ok()) << rest->status.describe();
    expect_no_token(*rest);
    EXPECT_EQ(stage.peer->exchanges().size(), 2u) << "a request after the failed write was relayed";
  }
}

// Descriptors 0, 1 and 2 closed at start, in every combination. The host
// reopens them on /dev/null, so the socket and token file never take those
// numbers: the application sees exactly one request per connection and no
// reply or diagnostic bytes.
TEST(StartupFaults, StandardDescriptorsClosedInEveryCombination) {
  const std::string input = frame(request(1)) + frame(request(2));
  for (int closed = 0; closed < 8; ++closed) {
    const bool in_closed = (closed & 1) != 0, out_closed = (closed & 2) != 0, err_closed = (closed & 4) != 0;
    SCOPED_TRACE(std::string("closed:") + (in_closed ? " stdin" : "") + (out_closed ? " stdout" : "") +
                 (err_closed ? " stderr" : ""));
    // The first request is answered, the second finds the peer closing
    // without a reply: one error reply and one diagnostic line.
    Stage stage([](std::size_t index, const std::string&) {
      return PeerAnswer{index == 0 ? reply_frame(R"({"id":1,"ok":true})") : std::string()};
    });
    ASSERT_TRUE(stage.peer);
    ChildOptions options = host_options(stage.dir);
    if (in_closed) options.stdin_mode = StdStream::closed;
    if (out_closed) options.stdout_mode = StdStream::closed;
    if (err_closed) options.stderr_mode = StdStream::closed;
    Result<ChildOutput> host = run_child(options, in_closed ? std::string() : input);
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_TRUE(host->status.ok()) << host->status.describe();
    expect_no_token(*host);
    std::vector<PeerExchange> seen = stage.peer->exchanges();
    if (in_closed) {
      EXPECT_EQ(seen.size(), 0u);
      EXPECT_EQ(host->out, "");
      EXPECT_EQ(host->err, "");
      continue;
    }
    ASSERT_EQ(seen.size(), 2u);
    for (const PeerExchange& exchange : seen) {
      EXPECT_TRUE(exchange.request_read);
      EXPECT_EQ(exchange.after, "");
    }
    EXPECT_EQ(host->out, out_closed ? "" : frame(R"({"id":1,"ok":true})") +
                                            frame(ipc_error_reply("failed to fill whole buffer", u64(2))));
    EXPECT_EQ(host->err, err_closed ? "" : ipc_error_line("failed to fill whole buffer"));
  }
}

}  // namespace
}  // namespace vk::testing

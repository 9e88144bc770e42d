// The exchange with the application over a real socket: the token added to
// each request, an application that misbehaves, and the size limits in both
// directions.

#include <errno.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "native_messaging/json.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

const std::string kPing = R"({"command":"ping","id":1})";
const std::string kPong = R"({"command":"ping","id":1,"reply":"pong"})";

// {"id":<id>,"pad":"xx…"} of exactly `size` bytes.
std::string padded_request(std::size_t size, std::string_view id = "1") {
  std::string head = "{\"id\":" + std::string(id) + ",\"pad\":\"";
  std::string tail = "\"}";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// The size of `request` as the host sends it, with "auth_token" added.
std::size_t size_with_token(const std::string& request, const std::string& token) {
  Result<JsonValue, JsonParseError> parsed = parse_json(request);
  EXPECT_TRUE(parsed);
  JsonObject object = parsed ? parsed->as_object().value_or(JsonObject()) : JsonObject();
  object.set("auth_token", JsonValue(token));
  return serialize_json(JsonValue(object)).size();
}

TEST(IpcExchange, RequestsReachTheAppWithTheCurrentToken) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  struct Case {
    std::string request;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {kPing, kPong},
      // The app echoes what it got minus the token: a stale token was
      // replaced, or the app would have refused it.
      {R"({"command":"echo","id":2,"auth_token":"stale-token-of-an-old-session-000"})",
       R"({"command":"echo","id":2})"},
      {R"({"auth_token":null,"id":3,"z":[{"auth_token":"kept"}]})", R"({"id":3,"z":[{"auth_token":"kept"}]})"},
      // Only objects carry a token; the app refuses the rest.
      {R"(["not","an","object"])", R"({"error":"missing auth_token","id":null})"},
      {R"("text")", R"({"error":"missing auth_token","id":null})"},
  };
  std::string input, expected;
  for (const Case& c : cases) {
    input += frame(c.request);
    expected += frame(c.reply);
  }
  ChildOutput host = run_host(dir, input);
  EXPECT_EQ(host.out, expected);
  EXPECT_EQ(host.err, "");
  EXPECT_TRUE(host.status.ok());
}

// Failures after connecting become "Tarnwick IPC error: " replies; the host
// goes on with the next request.
TEST(IpcExchange, MisbehavingApplication) {
  // Larger than a socket buffer: the host is still writing when the app acts.
  const std::string big = padded_request(1'000'000, "7");
  struct Case {
    std::vector<std::string> app_args;
    std::string request;
    std::uint64_t id;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {{"--fault", "close-after-read"}, kPing, 1, "failed to fill whole buffer"},
      {{"--fault", "truncated-reply"}, kPing, 1, "failed to fill whole buffer"},
      {{"--fault", "oversized-length"}, kPing, 1, "IPC response too large"},
      {{"--fault", "invalid-json"}, kPing, 1, "expected value at line 1 column 10"},
      {{"--raw-reply", ""}, kPing, 1, "EOF while parsing a value at line 1 column 0"},
      {{"--raw-reply", "{\"a\":1}\n{}"}, kPing, 1, "trailing characters at line 2 column 1"},
      {{"--fault", "reset-after-arrival"}, kPing, 1, os_error(ECONNRESET)},
      // A reset while a large request is being written ends that write after
      // part of it went; the next write finds the connection shut.
      {{"--fault", "reset-after-arrival"}, big, 7, os_error(EPIPE)},
      {{"--fault", "close-before-read"}, big, 7, os_error(EPIPE)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.app_args.back() + (c.request.size() > 100 ? " (large request)" : ""));
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, c.app_args);
    ASSERT_TRUE(app);
    JsonValue id(c.id);
    ChildOutput host = run_host(dir, frame(c.request) + frame(c.request));
    EXPECT_EQ(host.out, frame(ipc_error_reply(c.detail, id)) + frame(ipc_error_reply(c.detail, id)));
    EXPECT_EQ(host.err, ipc_error_line(c.detail) + ipc_error_line(c.detail));
    EXPECT_TRUE(host.status.ok());
  }
}

TEST(IpcExchange, ReplyByteByByteIsReadWhole) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir, {"--slow", "1"});
  ASSERT_TRUE(app);
  ChildOutput host = run_host(dir, frame(kPing));
  EXPECT_EQ(host.out, frame(kPong));
  EXPECT_TRUE(host.status.ok());
}

TEST(IpcLimits, ReplyOfExactlyTheLimitIsRelayedAndOneMoreIsRefused) {
  ScratchDir dir;
  {
    std::optional<StandInApp> app = StandInApp::start(dir, {"--reply-size", "1048576"});
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame("\"" + std::string(1'048'574, 'x') + "\""));
    EXPECT_EQ(host.err, "");
    EXPECT_TRUE(host.status.ok());
    ASSERT_TRUE(app->stop());
  }
  {
    std::optional<StandInApp> app = StandInApp::start(dir, {"--reply-size", "1048577"});
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(kPing));
    EXPECT_EQ(host.out, frame(ipc_error_reply("IPC response too large", JsonValue(std::uint64_t{1}))));
    EXPECT_EQ(host.err, ipc_error_line("IPC response too large"));
    EXPECT_TRUE(host.status.ok());
  }
}

// The limit applies to the request as sent, token included.
TEST(IpcLimits, RequestOfExactlyTheLimitIsSentAndOneMoreIsRefused) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  const std::size_t token_overhead = size_with_token(padded_request(100), app->token()) - 100;

  const std::string at_limit = padded_request(1'048'576 - token_overhead);
  ASSERT_EQ(size_with_token(at_limit, app->token()), 1'048'576u);
  ChildOutput sent = run_host(dir, frame(at_limit));
  EXPECT_EQ(sent.out, frame(at_limit));  // echoed without the token
  EXPECT_EQ(sent.err, "");

  const std::string above = padded_request(1'048'577 - token_overhead);
  ChildOutput refused = run_host(dir, frame(above));
  EXPECT_EQ(refused.out, frame(ipc_error_reply("IPC request too large", JsonValue(std::uint64_t{1}))));
  EXPECT_EQ(refused.err, ipc_error_line("IPC request too large"));
  EXPECT_TRUE(refused.status.ok());

  // A request that is not an object gets no token: 1,048,576 bytes go as is.
  std::string array = "[\"" + std::string(1'048'576 - 4, 'y') + "\"]";
  ChildOutput untokened = run_host(dir, frame(array));
  EXPECT_EQ(untokened.out, frame(R"({"error":"missing auth_token","id":null})"));
  EXPECT_EQ(untokened.err, "");
}

}  // namespace
}  // namespace vk::testing

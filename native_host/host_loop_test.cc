#include "native_host/host_loop.h"

#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "native_messaging/protocol.h"

namespace vk {
namespace {

// Scripted channels: requests come from a queue; every reply, diagnostic
// line and connection event is recorded.
class FakeChannels final : public HostChannels {
 public:
  std::deque<std::string> requests;  // JSON texts; end of input afterwards
  std::optional<Error> connect_error;
  std::optional<Error> exchange_error;
  JsonValue app_reply = JsonValue(std::string("app reply"));
  std::optional<Error> write_error;

  std::vector<std::string> replies;
  std::string diagnostics;
  std::vector<std::string> sent;
  int peer_fd = -1;            // other end of the last connection
  bool peer_saw_close = false;  // the connection was closed before the reply

  Result<JsonValue> read_request() override {
    if (requests.empty()) return Error("Failed to read message length: failed to fill whole buffer");
    Result<JsonValue, JsonParseError> value = parse_json(requests.front());
    requests.pop_front();
    if (!value) return Error("Invalid JSON: " + value.error().display());
    return std::move(value).value();
  }
  Result<AuthenticatedIpcStream> connect() override {
    if (connect_error) return *connect_error;
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    if (peer_fd >= 0) ::close(peer_fd);
    peer_fd = sv[1];
    return AuthenticatedIpcStream(UniqueFd(sv[0]), std::string(32, 't'));
  }
  Result<JsonValue> send_receive(AuthenticatedIpcStream& connection, JsonValue request) override {
    EXPECT_EQ(connection.token(), std::string(32, 't'));
    sent.push_back(serialize_json(request));
    if (exchange_error) return *exchange_error;
    return app_reply;
  }
  Result<void> write_reply(std::string_view frame) override {
    if (peer_fd >= 0) {
      char byte;
      peer_saw_close = ::recv(peer_fd, &byte, 1, MSG_DONTWAIT) == 0;
    }
    if (write_error) return *write_error;
    EXPECT_EQ(frame.substr(0, 4), encode_raw_frame(frame.substr(4)).substr(0, 4)) << "length field";
    replies.emplace_back(frame.substr(4));
    return {};
  }
  void write_diagnostic(std::string_view line) override { diagnostics.append(line); }

  ~FakeChannels() override {
    if (peer_fd >= 0) ::close(peer_fd);
  }
};

const std::string kRefused = "Connection refused (os error 111)";

TEST(HostLoop, ErrorReplyIdRule) {
  struct Case {
    const char* request;
    const char* id;
  };
  const Case cases[] = {
      {R"({"id":7})", "7"},
      {R"({"id":0})", "0"},
      {R"({"id":18446744073709551615})", "18446744073709551615"},
      {R"({"id":18446744073709551616})", "null"},
      {R"({"id":-1})", "null"},
      {R"({"id":-0})", "null"},
      {R"({"id":1.5})", "null"},
      {R"({"id":1e2})", "null"},
      {R"({"id":7.0})", "null"},
      {R"({"id":"7"})", "null"},
      {R"({"id":[7]})", "null"},
      {R"({"id":null})", "null"},
      {R"({"other":7})", "null"},
      {R"([{"id":7}])", "null"},
      {"7", "null"},
  };
  for (const Case& c : cases) {
    FakeChannels channels;
    channels.requests = {c.request};
    channels.connect_error = Error(kRefused);
    run_host_loop(channels);
    ASSERT_EQ(channels.replies.size(), 1u) << c.request;
    EXPECT_EQ(channels.replies[0],
              std::string(R"x({"error":"Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. )x"
                          R"x(Detail: Connection refused (os error 111)","id":)x") + c.id + "}")
        << c.request;
  }
}

TEST(HostLoop, ConnectFailureIsReportedAndTheNextRequestTriedAfresh) {
  FakeChannels channels;
  channels.requests = {R"({"id":1})", R"({"id":2})"};
  channels.connect_error = Error("IPC path: no private user directory available");
  run_host_loop(channels);
  const std::string line =
      "[vellumkeep-native] cannot open socket: IPC path: no private user directory available\n";
  EXPECT_EQ(channels.diagnostics, line + line);
  ASSERT_EQ(channels.replies.size(), 2u);
  EXPECT_EQ(channels.replies[1],
            R"x({"error":"Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. )x"
            R"x(Detail: IPC path: no private user directory available","id":2})x");
}

TEST(HostLoop, ExchangeFailureAfterConnect) {
  FakeChannels channels;
  channels.requests = {R"({"id":9,"x":1})"};
  channels.exchange_error = Error("failed to fill whole buffer");
  run_host_loop(channels);
  EXPECT_EQ(channels.diagnostics, "[vellumkeep-native] IPC error after connect: failed to fill whole buffer\n");
  ASSERT_EQ(channels.replies.size(), 1u);
  EXPECT_EQ(channels.replies[0], R"({"error":"Tarnwick IPC error: failed to fill whole buffer","id":9})");
  EXPECT_TRUE(channels.peer_saw_close) << "connection still open when the reply was written";
}

TEST(HostLoop, ApplicationReplyPassesThroughAfterTheConnectionIsClosed) {
  FakeChannels channels;
  channels.requests = {R"({"id":1,"b":2,"a":1})", "[1]"};
  channels.app_reply = parse_json(R"([null,{"no_id":true}])").value();
  run_host_loop(channels);
  EXPECT_EQ(channels.sent, (std::vector<std::string>{R"({"a":1,"b":2,"id":1})", "[1]"}));
  EXPECT_EQ(channels.replies,
            (std::vector<std::string>{R"([null,{"no_id":true}])", R"([null,{"no_id":true}])"}));
  EXPECT_EQ(channels.diagnostics, "");
  EXPECT_TRUE(channels.peer_saw_close);
}

TEST(HostLoop, UnreadableRequestEndsSilently) {
  FakeChannels channels;
  channels.requests = {"{not json", R"({"id":1})"};
  run_host_loop(channels);
  EXPECT_TRUE(channels.replies.empty());
  EXPECT_EQ(channels.diagnostics, "");
  EXPECT_EQ(channels.requests.size(), 1u) << "later frames are not read";
}

TEST(HostLoop, FailedReplyWriteIsReportedAndEndsTheLoop) {
  FakeChannels channels;
  channels.requests = {R"({"id":1})", R"({"id":2})"};
  channels.write_error = Error("stdout flush error: Broken pipe (os error 32)");
  run_host_loop(channels);
  EXPECT_EQ(channels.diagnostics, "[vellumkeep-native] stdout write: stdout flush error: Broken pipe (os error 32)\n");
  EXPECT_EQ(channels.requests.size(), 1u);
}

}  // namespace
}  // namespace vk

// The host's main loop seen from the browser's side: replies, error replies
// and their ids, how input framing failures end it, and standard descriptors
// that are closed or failing.

#include <errno.h>
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

#include "native_messaging/protocol.h"
#include "tests/child_process.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

JsonValue u64(std::uint64_t n) { return JsonValue(n); }

// A JSON object of exactly `size` bytes: {"id":<id>,"pad":"xx…"}.
std::string padded_request(std::size_t size, std::string_view id = "1") {
  std::string head = "{\"id\":" + std::string(id) + ",\"pad\":\"";
  std::string tail = "\"}";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// With no application: the token file is missing, so every request is
// answered by the host itself, and the reply's id follows the id rule.
TEST(HostIdRule, ErrorRepliesCarryOnlyUnsignedIntegerIds) {
  struct Case {
    std::string request;
    JsonValue id;
  };
  const std::vector<Case> cases = {
      {R"({"id":7})", u64(7)},
      {R"({"id":0})", u64(0)},
      {R"({"id":18446744073709551615})", u64(18446744073709551615u)},
      {R"({"id":18446744073709551616})", JsonValue()},
      {R"({"id":-1})", JsonValue()},
      {R"({"id":-0})", JsonValue()},
      {R"({"id":1.5})", JsonValue()},
      {R"({"id":1e2})", JsonValue()},
      {R"({"id":7.0})", JsonValue()},
      {R"({"id":"7"})", JsonValue()},
      {R"({"id":[7]})", JsonValue()},
      {R"({"id":{"n":7}})", JsonValue()},
      {R"({"id":null})", JsonValue()},
      {R"({"id":true})", JsonValue()},
      {R"({"command":"ping"})", JsonValue()},
      {R"([{"id":7}])", JsonValue()},
      {R"(7)", JsonValue()},
      {R"("id")", JsonValue()},
  };
  ScratchDir dir;
  std::string input, expected_out, expected_err;
  const std::string detail = os_error(ENOENT);
  for (const Case& c : cases) {
    input += frame(c.request);
    expected_out += frame(cannot_reach_reply(detail, c.id));
    expected_err += cannot_open_line(detail);
  }
  // One host for all: failures never end it, each request is tried afresh.
  ChildOutput host = run_host(dir, input);
  EXPECT_EQ(host.out, expected_out);
  EXPECT_EQ(host.err, expected_err);
  EXPECT_TRUE(host.status.ok()) << host.status.describe();
}

// Any frame that cannot be read ends the host: no reply to it, nothing on
// standard error, exit status 0, later frames never read.
TEST(HostInputFraming, UnreadableFrameEndsTheHostSilently) {
  const std::string length_1mib_plus_1(encode_frame_length(1'048'577).data(), 4);
  struct Case {
    const char* name;
    std::string input;
  };
  const std::vector<Case> cases = {
      {"end of input at a frame boundary", ""},
      {"end inside the length field", std::string("\x05\x00", 2)},
      {"end inside the body", frame("{\"id\":1}").substr(0, 7)},
      {"empty body", frame("") + frame("{\"id\":1}")},
      {"invalid JSON then a valid frame", frame("{") + frame("{\"id\":1}")},
      {"trailing characters", frame("{} x") + frame("{\"id\":1}")},
      {"length 1,048,577", length_1mib_plus_1 + std::string(64, ' ')},
      {"length 0xFFFFFFFF", std::string("\xff\xff\xff\xff", 4) + "{}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ChildOutput host = run_host(dir, c.input);
    EXPECT_EQ(host.out, "");
    EXPECT_EQ(host.err, "");
    EXPECT_TRUE(host.status.ok()) << host.status.describe();
  }
}

TEST(HostInputFraming, RequestsBeforeABadFrameAreAnswered) {
  ScratchDir dir;
  ChildOutput host = run_host(dir, frame(R"({"id":1})") + frame("[1,") + frame(R"({"id":2})"));
  EXPECT_EQ(host.out, frame(cannot_reach_reply(os_error(ENOENT), u64(1))));
  EXPECT_EQ(host.err, cannot_open_line(os_error(ENOENT)));
  EXPECT_TRUE(host.status.ok());
}

TEST(HostInputFraming, BodyOfExactlyTheLimitIsReadAndOneMoreIsRefused) {
  ScratchDir dir;
  ChildOutput at_limit = run_host(dir, frame(padded_request(1'048'576, "5")));
  EXPECT_EQ(at_limit.out, frame(cannot_reach_reply(os_error(ENOENT), u64(5))));
  EXPECT_TRUE(at_limit.status.ok());

  ChildOutput above = run_host(dir, frame(padded_request(1'048'577, "5")));
  EXPECT_EQ(above.out, "");
  EXPECT_EQ(above.err, "");
  EXPECT_TRUE(above.status.ok());
}

// Both frames arrive in one write; the second must be answered from what
// was read ahead, without waiting for more input.
TEST(HostInputFraming, TwoFramesInOneWriteGetTwoReplies) {
  ScratchDir dir;
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  ASSERT_TRUE(host->write_stdin(frame(R"({"id":1})") + frame(R"({"id":2})")));
  std::string expected =
      frame(cannot_reach_reply(os_error(ENOENT), u64(1))) + frame(cannot_reach_reply(os_error(ENOENT), u64(2)));
  Result<std::string> replies = host->read_stdout_exact(expected.size());
  ASSERT_TRUE(replies) << replies.error().text();
  EXPECT_EQ(*replies, expected);
  Result<ChildOutput> rest = host->communicate();
  ASSERT_TRUE(rest) << rest.error().text();
  EXPECT_EQ(rest->out, "");
  EXPECT_TRUE(rest->status.ok());
}

// Input that trickles in: every read of the host comes up short.
TEST(HostInputFraming, RequestDeliveredByteByByteIsReadWhole) {
  ScratchDir dir;
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  const std::string request = frame(R"({"id":1})") + frame(R"({"id":2})");
  for (char byte : request) {
    ASSERT_TRUE(host->write_stdin(std::string_view(&byte, 1)));
    timespec pause{0, 1'000'000};
    ::nanosleep(&pause, nullptr);
  }
  Result<ChildOutput> output = host->communicate();
  ASSERT_TRUE(output) << output.error().text();
  EXPECT_EQ(output->out, frame(cannot_reach_reply(os_error(ENOENT), u64(1))) +
                             frame(cannot_reach_reply(os_error(ENOENT), u64(2))));
  EXPECT_TRUE(output->status.ok());
}

// The application's reply goes back whatever its shape, rewritten in the
// host's own compact form.
TEST(HostReplies, ApplicationRepliesAreRelayedInCompactForm) {
  struct Case {
    std::string sent_by_app;
    std::string relayed;
  };
  const std::vector<Case> cases = {
      {"[1,2]", "[1,2]"},
      {"\"just text\"", "\"just text\""},
      {"null", "null"},
      {" {\"b\" : 1, \"a\" : 1.0} ", "{\"a\":1.0,\"b\":1}"},
      {"{\"id\":9,\"id\":10}", "{\"id\":10}"},
      {"1e2", "100.0"},
      {"\"\\u00e9\\/\"", "\"\xc3\xa9/\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sent_by_app);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir, {"--raw-reply", c.sent_by_app});
    ASSERT_TRUE(app);
    ChildOutput host = run_host(dir, frame(R"({"id":1})"));
    EXPECT_EQ(host.out, frame(c.relayed));
    EXPECT_EQ(host.err, "");
    EXPECT_TRUE(host.status.ok());
  }
}

// The browser closed standard output. The reply write fails; standard output
// behaves as if line-buffered with 1,024 bytes, so a frame of 1,024 bytes or
// more, or one holding a 0x0A byte, fails in the write, others in the flush.
// Later requests are never read.
TEST(HostClosedStdout, FailedReplyWriteIsReportedAndEndsTheHost) {
  struct Case {
    std::size_t reply_size;  // the echo is the request itself
    const char* stage;
  };
  const std::vector<Case> cases = {
      {1019, "stdout flush error: "},  // frame of 1,023 bytes, length FB 03 00 00
      {1020, "stdout write error: "},  // frame of 1,024 bytes
      {5000, "stdout write error: "},
      {265, "stdout flush error: "},   // length 09 01 00 00
      {266, "stdout write error: "},   // length 0A 01 00 00: a line feed
      {12, "stdout flush error: "},
      {10, "stdout write error: "},    // length 0A 00 00 00
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply_size);
    ScratchDir dir;
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);
    std::string request = c.reply_size == 10 ? std::string(R"({"pad":""})")
                          : c.reply_size == 12 ? std::string(R"({"pad":"xx"})")
                                               : padded_request(c.reply_size);
    ASSERT_EQ(request.size(), c.reply_size);
    Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
    ASSERT_TRUE(host) << host.error().text();
    host->close_stdout();
    Result<ChildOutput> output = host->communicate(frame(request) + frame(R"({"command":"ping","id":2})"));
    ASSERT_TRUE(output) << output.error().text();
    EXPECT_EQ(output->err, "[vellumkeep-native] stdout write: " + std::string(c.stage) + os_error(EPIPE) + "\n");
    EXPECT_TRUE(output->status.ok()) << output->status.describe();
  }
}

// Descriptors 0, 1 and 2 closed at start are reopened on /dev/null.
TEST(HostStartup, ClosedStandardDescriptorsAreTolerated) {
  const std::string request = frame(R"({"id":3})");
  const std::string detail = os_error(ENOENT);
  {
    SCOPED_TRACE("standard input closed: an immediate end of input");
    ScratchDir dir;
    ChildOptions options = host_options(dir);
    options.stdin_mode = StdStream::closed;
    Result<ChildOutput> host = run_child(options);
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_EQ(host->out, "");
    EXPECT_EQ(host->err, "");
    EXPECT_TRUE(host->status.ok());
  }
  {
    SCOPED_TRACE("standard output closed: the reply goes nowhere, without an error");
    ScratchDir dir;
    ChildOptions options = host_options(dir);
    options.stdout_mode = StdStream::closed;
    Result<ChildOutput> host = run_child(options, request + request);
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_EQ(host->err, cannot_open_line(detail) + cannot_open_line(detail));
    EXPECT_TRUE(host->status.ok());
  }
  {
    SCOPED_TRACE("standard error closed: replies as usual");
    ScratchDir dir;
    ChildOptions options = host_options(dir);
    options.stderr_mode = StdStream::closed;
    Result<ChildOutput> host = run_child(options, request);
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_EQ(host->out, frame(cannot_reach_reply(detail, u64(3))));
    EXPECT_TRUE(host->status.ok());
  }
  {
    SCOPED_TRACE("all three closed");
    ScratchDir dir;
    ChildOptions options = host_options(dir);
    options.stdin_mode = options.stdout_mode = options.stderr_mode = StdStream::closed;
    Result<ChildOutput> host = run_child(options);
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_TRUE(host->status.ok()) << host->status.describe();
  }
}

// Standard error open but failing (its reader gone) must not stop the host.
TEST(HostStartup, FailingStandardErrorDoesNotStopTheHost) {
  ScratchDir dir;
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  host->close_stderr();
  Result<ChildOutput> output = host->communicate(frame(R"({"id":1})") + frame(R"({"id":2})"));
  ASSERT_TRUE(output) << output.error().text();
  EXPECT_EQ(output->out, frame(cannot_reach_reply(os_error(ENOENT), u64(1))) +
                             frame(cannot_reach_reply(os_error(ENOENT), u64(2))));
  EXPECT_TRUE(output->status.ok()) << output->status.describe();
}

}  // namespace
}  // namespace vk::testing

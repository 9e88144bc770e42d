#include "native_messaging/protocol.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace vk {
namespace {

std::string length_bytes(std::uint32_t n) {
  auto bytes = encode_frame_length(n);
  return std::string(bytes.data(), bytes.size());
}

// A pipe whose writing end is fed by a thread, `chunk` bytes per write, and
// closed at the end: the reader sees short reads and then end of input.
class FedPipe {
 public:
  explicit FedPipe(std::string data, std::size_t chunk = 1 << 20) {
    ::signal(SIGPIPE, SIG_IGN);  // the reader may stop early
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    read_end_ = fds[0];
    writer_ = std::thread([fd = fds[1], data = std::move(data), chunk] {
      std::size_t done = 0;
      while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, std::min(chunk, data.size() - done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
    });
  }
  ~FedPipe() {
    ::close(read_end_);
    writer_.join();
  }
  int fd() const { return read_end_; }

 private:
  int read_end_ = -1;
  std::thread writer_;
};

std::string read_result_text(const Result<JsonValue>& r) {
  return r ? "value " + serialize_json(r.value()) : "error " + r.error().text();
}

TEST(ReadMessage, FrameTable) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"object", length_bytes(7) + R"({"a":1})", R"(value {"a":1})"},
      {"normalised, not copied", length_bytes(14) + R"({ "b" : 1.50 })", R"(value {"b":1.5})"},
      {"empty input", "", "error Failed to read message length: failed to fill whole buffer"},
      {"length cut short", std::string("\x07\x00", 2),
       "error Failed to read message length: failed to fill whole buffer"},
      {"body cut short", length_bytes(7) + R"({"a")",
       "error Failed to read message body: failed to fill whole buffer"},
      {"length 0", length_bytes(0), "error Invalid JSON: EOF while parsing a value at line 1 column 0"},
      {"trailing characters", length_bytes(9) + R"({"a":1} x)",
       "error Invalid JSON: trailing characters at line 1 column 9"},
      {"just above the limit", length_bytes(1'048'577) + "{}", "error Message too large (max 1MB)"},
      {"largest length field", length_bytes(0xFFFFFFFF), "error Message too large (max 1MB)"},
  };
  for (const Case& c : cases) {
    FedPipe pipe(c.input);
    FrameReader reader(pipe.fd());
    EXPECT_EQ(read_result_text(read_message(reader)), c.expected) << c.name;
  }
}

TEST(ReadMessage, AcceptsBodyOfExactlyTheLimit) {
  const std::string body = "\"" + std::string(kMaxMessageSize - 2, 'x') + "\"";
  FedPipe pipe(length_bytes(static_cast<std::uint32_t>(body.size())) + body, 4096);
  FrameReader reader(pipe.fd());
  Result<JsonValue> value = read_message(reader);
  ASSERT_TRUE(value) << value.error().text();
  EXPECT_EQ(value->as_string().value_or("").size(), kMaxMessageSize - 2);
}

TEST(ReadMessage, TooLargeLeavesTheBodyUnread) {
  FedPipe pipe(length_bytes(1'048'577) + "xyz");
  FrameReader reader(pipe.fd());
  EXPECT_EQ(read_message(reader).error().text(), "Message too large (max 1MB)");
  char rest[4] = {};
  ASSERT_TRUE(reader.read_exact(std::span<char>(rest, 3)));
  EXPECT_STREQ(rest, "xyz");
}

TEST(ReadMessage, FramesSplitOrJoinedAcrossReads) {
  const std::string two = length_bytes(3) + "[1]" + length_bytes(4) + "true";
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, two.size()}) {
    FedPipe pipe(two, chunk);
    FrameReader reader(pipe.fd());
    EXPECT_EQ(read_result_text(read_message(reader)), "value [1]") << chunk;
    EXPECT_EQ(read_result_text(read_message(reader)), "value true") << chunk;
    EXPECT_EQ(read_result_text(read_message(reader)),
              "error Failed to read message length: failed to fill whole buffer")
        << chunk;
  }
}

TEST(ReadMessage, ReadErrorCarriesThePlatformText) {
  FrameReader reader(-1);
  EXPECT_EQ(read_message(reader).error().text(),
            "Failed to read message length: " + Error::from_errno(EBADF).text());
}

TEST(ReadFrame, UnbufferedReadStopsAtTheFrameEnd) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  const std::string data = encode_raw_frame("[1]") + encode_raw_frame("[2]");
  ASSERT_EQ(::write(sv[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
  Result<std::string, FrameReadError> first = read_frame(sv[0], FdKind::socket);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, "[1]");
  char rest[16];
  EXPECT_EQ(::recv(sv[0], rest, sizeof rest, MSG_DONTWAIT), 7);
  ::close(sv[0]);
  ::close(sv[1]);
}

TEST(ReadFrame, ReportsWhichStepFailed) {
  struct Case {
    std::string input;
    FrameFailure failure;
    std::string io;
  };
  const Case cases[] = {
      {"\x01", FrameFailure::length_unreadable, "failed to fill whole buffer"},
      {length_bytes(11) + "0123456789x", FrameFailure::too_large, ""},
      {length_bytes(10) + "012", FrameFailure::body_unreadable, "failed to fill whole buffer"},
  };
  for (const Case& c : cases) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    ASSERT_EQ(::write(sv[1], c.input.data(), c.input.size()), static_cast<ssize_t>(c.input.size()));
    ::close(sv[1]);
    Result<std::string, FrameReadError> body = read_frame(sv[0], FdKind::socket, 10);
    ::close(sv[0]);
    ASSERT_FALSE(body) << c.input;
    EXPECT_EQ(body.error().failure, c.failure) << c.input;
    EXPECT_EQ(body.error().io.text(), c.io) << c.input;
  }
}

TEST(WriteMessage, WritesLengthThenCompactBody) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  JsonObject object;
  object.set("b", JsonValue(1.5));
  object.set("a", JsonValue(std::string("é\n")));
  ASSERT_TRUE(write_message(fds[1], JsonValue(object)));
  ::close(fds[1]);
  char buffer[64];
  const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
  ::close(fds[0]);
  const std::string body = "{\"a\":\"\xC3\xA9\\n\",\"b\":1.5}";
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), length_bytes(static_cast<std::uint32_t>(body.size())) + body);
}

TEST(AppendFrame, PatchesTheLengthOfAFrameAppendedAfterOtherBytes) {
  std::string out = "head";
  EXPECT_EQ(append_frame(JsonValue(JsonArray{JsonValue(true)}), out), 6u);
  EXPECT_EQ(out, "head" + length_bytes(6) + "[true]");
  EXPECT_EQ(encode_frame(JsonValue(nullptr)), length_bytes(4) + "null");
}

// A string whose frame is `frame_size` bytes long.
JsonValue value_with_frame_size(std::size_t frame_size) {
  return JsonValue(std::string(frame_size - kFrameLengthSize - 2, 'x'));
}

TEST(WriteMessage, ClosedReaderIsAWriteOrFlushErrorLikeALineBufferedStdout) {
  ::signal(SIGPIPE, SIG_IGN);
  const std::string broken = Error::from_errno(EPIPE).text();
  struct Case {
    const char* name;
    JsonValue value;
    std::string expected;
  };
  const Case cases[] = {
      {"small frame stays buffered", JsonValue(JsonArray{}), "stdout flush error: " + broken},
      {"1,023 bytes", value_with_frame_size(1023), "stdout flush error: " + broken},
      {"1,024 bytes", value_with_frame_size(1024), "stdout write error: " + broken},
      {"large frame", value_with_frame_size(70'000), "stdout write error: " + broken},
      // A 10-byte body puts 0x0A in the length field.
      {"line feed in the length", value_with_frame_size(14), "stdout write error: " + broken},
      // An escaped line feed is two bytes, "\\n", and does not count.
      {"escaped line feed", JsonValue(std::string("a\nb")), "stdout flush error: " + broken},
  };
  for (const Case& c : cases) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    Result<void> r = write_message(fds[1], c.value);
    ::close(fds[1]);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().text(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace vk

#include "native_messaging/ipc_blocking_client.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "native_messaging/testing/fake_ipc_environment.h"
#include "native_messaging/fd_io.h"
#include "native_messaging/protocol.h"
#include "native_messaging/testing/test_private_dir.h"

namespace vk {
namespace {

using testing::FakeIpcEnvironment;
using testing::PrivateDir;

const std::string kToken(40, 't');

// A Unix socket bound at `path`, listening or not.
UniqueFd bound_socket(const std::string& path, bool listening) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  EXPECT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
  if (listening) {
    EXPECT_EQ(::listen(fd.get(), 4), 0);
  }
  return fd;
}

std::string connect_result(const IpcEnvironment& env) {
  Result<AuthenticatedIpcStream> stream = connect_ipc_unix_stream(env);
  return stream ? "connected, token " + stream->token() : "error " + stream.error().text();
}

TEST(ConnectIpcUnixStream, FailureTable) {
  PrivateDir dir;
  const std::string socket_path = dir.file("vellumkeep-native.sock");
  const std::string with_token = dir.path() + "/t";
  ASSERT_EQ(::mkdir(with_token.c_str(), 0700), 0);
  const std::string short_token = dir.path() + "/s";
  ASSERT_EQ(::mkdir(short_token.c_str(), 0700), 0);
  dir.write_file("t/vellumkeep-native.token", "  " + kToken + "\n");
  dir.write_file("s/vellumkeep-native.token", std::string(31, 'x') + "\n");
  UniqueFd not_listening = bound_socket(with_token + "/refused.sock", false);
  const std::string token_directory = dir.path() + "/d";
  ASSERT_EQ(::mkdir(token_directory.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((token_directory + "/vellumkeep-native.token").c_str(), 0700), 0);
  UniqueFd also_not_listening = bound_socket(token_directory + "/refused.sock", false);

  struct Case {
    const char* name;
    std::string socket_variable;
    std::string expected;
  };
  const Case cases[] = {
      {"tmp refused before the token is read", "/tmp/x.sock",
       "error IPC: refusing to connect to /tmp socket \u2014 use a private path (VK_IPC_SOCKET_PATH)."},
      {"var tmp refused", " /var/tmp/z ",
       "error IPC: refusing to connect to /tmp socket \u2014 use a private path (VK_IPC_SOCKET_PATH)."},
      {"token file missing", socket_path, "error " + Error::from_errno(ENOENT).text()},
      {"token too short", short_token + "/x.sock", "error IPC auth token missing or too short"},
      // The token file's errors come before the connection's.
      {"token too short, path too long for sun_path",
       short_token + "/" + std::string(sizeof(sockaddr_un{}.sun_path), 'p'), "error IPC auth token missing or too short"},
      {"token file a directory, nothing listening", token_directory + "/refused.sock",
       "error " + Error::from_errno(EISDIR).text()},
      {"nothing at the socket path", with_token + "/absent.sock", "error " + Error::from_errno(ENOENT).text()},
      {"nothing listening", with_token + "/refused.sock", "error " + Error::from_errno(ECONNREFUSED).text()},
      {"path too long for sun_path", with_token + "/" + std::string(sizeof(sockaddr_un{}.sun_path), 'p'),
       "error path must be shorter than SUN_LEN"},
  };
  for (const Case& c : cases) {
    FakeIpcEnvironment env({{"VK_IPC_SOCKET_PATH", c.socket_variable}});
    EXPECT_EQ(connect_result(env), c.expected) << c.name;
  }
  EXPECT_EQ(connect_result(FakeIpcEnvironment()), "error IPC path: no private user directory available");
}

TEST(ConnectUnixSocket, LongestPathThatFitsIsTried) {
  const std::size_t capacity = sizeof(sockaddr_un{}.sun_path);
  EXPECT_EQ(connect_unix_socket(std::string(capacity, 'p')).error().text(), "path must be shorter than SUN_LEN");
  EXPECT_EQ(connect_unix_socket(std::string(capacity - 1, 'p')).error().text(), Error::from_errno(ENOENT).text());
}

TEST(ConnectIpcUnixStream, ConnectsCloseOnExecWithTheTrimmedToken) {
  PrivateDir dir;
  dir.write_file("vellumkeep-native.token", "\n" + kToken + "  \n");
  UniqueFd listener = bound_socket(dir.file("vellumkeep-native.sock"), true);
  FakeIpcEnvironment env({{"VK_IPC_SOCKET_PATH", dir.file("vellumkeep-native.sock")}});
  Result<AuthenticatedIpcStream> stream = connect_ipc_unix_stream(env);
  ASSERT_TRUE(stream) << stream.error().text();
  EXPECT_EQ(stream->token(), kToken);
  EXPECT_NE(::fcntl(stream->fd(), F_GETFD) & FD_CLOEXEC, 0);
}

// One end of a socketpair wrapped as a connection; the other end is played
// by `peer` on a thread.
class FakePeer {
 public:
  explicit FakePeer(std::function<void(int fd)> peer) {
    ::signal(SIGPIPE, SIG_IGN);
    int sv[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    connection_.emplace(UniqueFd(sv[0]), std::string(kToken));
    peer_fd_ = sv[1];
    thread_ = std::thread([this, peer = std::move(peer)] { peer(peer_fd_); });
  }
  ~FakePeer() {
    thread_.join();
    if (peer_fd_ >= 0) ::close(peer_fd_);
  }
  AuthenticatedIpcStream& connection() { return *connection_; }

 private:
  std::optional<AuthenticatedIpcStream> connection_;
  int peer_fd_ = -1;
  std::thread thread_;
};

std::string read_request(int fd) {
  Result<std::string, FrameReadError> body = read_frame(fd, FdKind::socket, 4 * kMaxMessageSize);
  return body ? *body : "";
}

void send_bytes(int fd, const std::string& bytes) { (void)write_all(fd, bytes, FdKind::socket); }

std::string exchange_result(FakePeer& peer, JsonValue request) {
  Result<JsonValue> reply = ipc_send_receive(peer.connection(), std::move(request));
  return reply ? "reply " + serialize_json(*reply) : "error " + reply.error().text();
}

TEST(IpcSendReceive, SendsTheRequestWithTheTokenAndReturnsTheReply) {
  std::string seen;
  {
    FakePeer peer([&](int fd) {
      seen = read_request(fd);
      send_bytes(fd, encode_raw_frame(R"( [ "any", {"shape":1} ] )"));
    });
    EXPECT_EQ(exchange_result(peer, parse_json(R"({"id":3,"auth_token":"old"})").value()),
              R"(reply ["any",{"shape":1}])");
  }
  EXPECT_EQ(seen, R"({"auth_token":")" + kToken + R"(","id":3})");
}

TEST(IpcSendReceive, NonObjectRequestsTravelWithoutToken) {
  std::string seen;
  {
    FakePeer peer([&](int fd) {
      seen = read_request(fd);
      send_bytes(fd, encode_raw_frame("{}"));
    });
    EXPECT_EQ(exchange_result(peer, parse_json("[1,2]").value()), "reply {}");
  }
  EXPECT_EQ(seen, "[1,2]");
}

// A string request whose framed body (with the token) is `body_size` bytes.
JsonValue request_with_body_size(std::size_t body_size) {
  const std::size_t overhead = std::string(R"({"auth_token":"","x":""})").size() + kToken.size();
  JsonObject object;
  object.set("x", JsonValue(std::string(body_size - overhead, 'x')));
  return JsonValue(std::move(object));
}

TEST(IpcSendReceive, RequestLimit) {
  std::size_t seen_size = 0;
  {
    FakePeer peer([&](int fd) {
      seen_size = read_request(fd).size();
      send_bytes(fd, encode_raw_frame("true"));
    });
    EXPECT_EQ(exchange_result(peer, request_with_body_size(kMaxMessageSize)), "reply true");
  }
  EXPECT_EQ(seen_size, kMaxMessageSize);

  char first_byte = 0;
  ssize_t received = -2;
  {
    FakePeer peer([&](int fd) { received = ::recv(fd, &first_byte, 1, 0); });
    EXPECT_EQ(exchange_result(peer, request_with_body_size(kMaxMessageSize + 1)), "error IPC request too large");
    ::shutdown(peer.connection().fd(), SHUT_WR);
  }
  EXPECT_EQ(received, 0) << "nothing may be sent";
}

std::string length_bytes(std::uint32_t n) {
  auto bytes = encode_frame_length(n);
  return std::string(bytes.data(), bytes.size());
}

TEST(IpcSendReceive, PeerFailureTable) {
  const std::string at_limit = "\"" + std::string(kMaxMessageSize - 2, 'r') + "\"";
  struct Case {
    const char* name;
    std::function<void(int fd)> peer;
    std::string expected;
  };
  const Case cases[] = {
      {"reply of exactly the limit",
       [&](int fd) { read_request(fd); send_bytes(fd, encode_raw_frame(at_limit)); },
       "reply " + at_limit},
      {"reply one byte above the limit",
       [](int fd) { read_request(fd); send_bytes(fd, length_bytes(1'048'577) + "{}"); },
       "error IPC response too large"},
      {"closes after reading without answering", [](int fd) { read_request(fd); ::shutdown(fd, SHUT_RDWR); },
       "error failed to fill whole buffer"},
      {"closes in the middle of the length", [](int fd) { read_request(fd); send_bytes(fd, "\x05"); ::shutdown(fd, SHUT_RDWR); },
       "error failed to fill whole buffer"},
      {"closes in the middle of the body",
       [](int fd) { read_request(fd); send_bytes(fd, length_bytes(10) + "[1,"); ::shutdown(fd, SHUT_RDWR); },
       "error failed to fill whole buffer"},
      {"reply not JSON", [](int fd) { read_request(fd); send_bytes(fd, encode_raw_frame(R"({"a":)")); },
       "error EOF while parsing a value at line 1 column 5"},
      {"reply with trailing bytes", [](int fd) { read_request(fd); send_bytes(fd, encode_raw_frame("{}}")); },
       "error trailing characters at line 1 column 3"},
      {"empty reply", [](int fd) { read_request(fd); send_bytes(fd, encode_raw_frame("")); },
       "error EOF while parsing a value at line 1 column 0"},
  };
  for (const Case& c : cases) {
    FakePeer peer(c.peer);
    EXPECT_EQ(exchange_result(peer, parse_json(R"({"id":1})").value()), c.expected) << c.name;
    ::shutdown(peer.connection().fd(), SHUT_RDWR);
  }
}

TEST(IpcSendReceive, TooLargeReplyBodyIsNotRead) {
  std::string rest(3, '\0');
  FakePeer peer([](int fd) { read_request(fd); send_bytes(fd, length_bytes(1'048'577) + "abc"); });
  EXPECT_EQ(exchange_result(peer, JsonValue(nullptr)), "error IPC response too large");
  EXPECT_TRUE(read_exact(peer.connection().fd(), std::span<char>(rest.data(), rest.size()), FdKind::socket));
  EXPECT_EQ(rest, "abc");
}

TEST(IpcSendReceive, PeerGoneBeforeTheRequestIsABrokenPipe) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  ::signal(SIGPIPE, SIG_IGN);
  ::close(sv[1]);
  AuthenticatedIpcStream connection{UniqueFd(sv[0]), kToken};
  Result<JsonValue> reply = ipc_send_receive(connection, parse_json(R"({"id":1})").value());
  ASSERT_FALSE(reply);
  EXPECT_EQ(reply.error().text(), Error::from_errno(EPIPE).text());
}

}  // namespace
}  // namespace vk

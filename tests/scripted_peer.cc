#include "tests/scripted_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "native_messaging/fd_io.h"
#include "native_messaging/protocol.h"

namespace vk::testing {
namespace {

// Longest the peer waits for the host on one connection; a guard against a
// hung host, not a measurement.
constexpr int kPeerDeadlineMs = 60'000;

// Waits until `fd` is readable or the stop pipe fires; false on stop or
// time-out.
bool wait_readable(int fd, int stop) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop, POLLIN, 0}};
  for (;;) {
    int n = ::poll(fds, 2, kPeerDeadlineMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && fds[1].revents == 0;
  }
}

// The address of `socket`, a path relative to the directory bound in.
Result<sockaddr_un> relative_address(std::string_view socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket.size() >= sizeof address.sun_path) return Error("socket path too long for the peer");
  std::memcpy(address.sun_path, socket.data(), socket.size());
  return address;
}

// Binds and listens on `socket` relative to `dir`. The working directory is
// switched for the bind only: tests are single-threaded at this point.
Result<UniqueFd> bind_relative(const std::string& dir, std::string_view socket, int backlog = 64) {
  Result<sockaddr_un> address = relative_address(socket);
  if (!address) return std::move(address).error();
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return Error::from_errno(errno);
  if (Result<void> marked = set_close_on_exec(fd.get()); !marked) return std::move(marked).error();
  UniqueFd here(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!here.valid() || ::chdir(dir.c_str()) != 0) return Error::from_errno(errno);
  int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  int bind_errno = errno;
  if (::fchdir(here.get()) != 0) return Error::from_errno(errno);
  if (bound != 0) return Error::from_errno(bind_errno);
  if (::listen(fd.get(), backlog) != 0) return Error::from_errno(errno);
  return fd;
}

// A message of one errno, with room for one descriptor beside it.
struct DescriptorMessage {
  DescriptorMessage() {
    header.msg_iov = &payload;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;

  int code = 0;
  iovec payload{&code, sizeof code};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
};

// Binds and listens on `socket` relative to `dir` as user `uid`: a child
// running as that user makes the listening socket (a connecting peer sees
// the user that listened) and hands it back, or its errno.
Result<UniqueFd> bind_relative_as(uid_t uid, const std::string& dir, std::string_view socket) {
  Result<sockaddr_un> address = relative_address(socket);
  if (!address) return std::move(address).error();
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return Error::from_errno(errno);
  UniqueFd ours(pair[0]), theirs(pair[1]);
  const pid_t pid = ::fork();
  if (pid < 0) return Error::from_errno(errno);
  if (pid == 0) {
    // Only async-signal-safe calls here. The socket is left open to every
    // user, as one planted for others would be.
    ::umask(0);
    DescriptorMessage message;
    int fd = -1;
    const auto gid = static_cast<gid_t>(uid);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 || ::chdir(dir.c_str()) != 0 ||
        (fd = ::socket(AF_UNIX, SOCK_STREAM, 0)) < 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 || ::listen(fd, 64) != 0) {
      message.code = errno;
      message.header.msg_control = nullptr;
      message.header.msg_controllen = 0;
    } else {
      cmsghdr* header = CMSG_FIRSTHDR(&message.header);
      header->cmsg_level = SOL_SOCKET;
      header->cmsg_type = SCM_RIGHTS;
      header->cmsg_len = CMSG_LEN(sizeof(int));
      std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    ::_exit(::sendmsg(theirs.get(), &message.header, 0) == static_cast<ssize_t>(sizeof message.code) ? 0 : 1);
  }
  theirs = UniqueFd();
  DescriptorMessage message;
  const ssize_t received = ::recvmsg(ours.get(), &message.header, 0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (received != static_cast<ssize_t>(sizeof message.code)) return Error("the listening child sent nothing");
  if (message.code != 0) return Error::from_errno(message.code);
  cmsghdr* header = CMSG_FIRSTHDR(&message.header);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return Error("the listening child sent no socket");
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  UniqueFd listener(fd);
  if (Result<void> marked = set_close_on_exec(listener.get()); !marked) return std::move(marked).error();
  return listener;
}

}  // namespace

std::unique_ptr<ScriptedPeer> ScriptedPeer::listen(const ScratchDir& dir, std::string_view socket,
                                                   Responder responder) {
  Result<UniqueFd> listener = listen_unserved(dir, socket, 64);
  if (!listener) {
    ADD_FAILURE() << "the scripted peer cannot listen on " << socket << ": " << listener.error().text();
    return nullptr;
  }
  return start(std::move(listener).value(), std::move(responder));
}

std::unique_ptr<ScriptedPeer> ScriptedPeer::listen_as(const ScratchDir& dir, std::string_view socket,
                                                      Responder responder, uid_t uid) {
  Result<UniqueFd> listener = bind_relative_as(uid, dir.path(), socket);
  if (!listener) {
    ADD_FAILURE() << "the scripted peer cannot listen on " << socket << " as uid " << uid << ": "
                  << listener.error().text();
    return nullptr;
  }
  return start(std::move(listener).value(), std::move(responder));
}

std::unique_ptr<ScriptedPeer> ScriptedPeer::start(UniqueFd listener, Responder responder) {
  UniqueFd stop_read;
  UniqueFd stop_write;
  if (Result<void> made = open_cloexec_pipe(stop_read, stop_write); !made) {
    ADD_FAILURE() << "pipe: " << made.error().text();
    return nullptr;
  }
  std::unique_ptr<ScriptedPeer> peer(new ScriptedPeer(std::move(listener), std::move(stop_read),
                                                      std::move(stop_write), std::move(responder)));
  peer->thread_ = std::thread([raw = peer.get()] { raw->serve(); });
  return peer;
}

ScriptedPeer::ScriptedPeer(UniqueFd listener, UniqueFd stop_read, UniqueFd stop_write, Responder responder)
    : listener_(std::move(listener)),
      stop_read_(std::move(stop_read)),
      stop_write_(std::move(stop_write)),
      responder_(std::move(responder)) {}

ScriptedPeer::~ScriptedPeer() {
  char byte = 's';
  [[maybe_unused]] ssize_t n = ::write(stop_write_.get(), &byte, 1);
  if (thread_.joinable()) thread_.join();
}

std::vector<PeerExchange> ScriptedPeer::exchanges() const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPeerDeadlineMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      pollfd pending{listener_.get(), POLLIN, 0};
      const bool waiting = ::poll(&pending, 1, 0) > 0;
      if ((!busy_ && !waiting) || std::chrono::steady_clock::now() > deadline) return exchanges_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ScriptedPeer::serve() {
  for (std::size_t index = 0;; ++index) {
    pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || fds[1].revents != 0) return;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      busy_ = true;
    }
    UniqueFd connection(::accept(listener_.get(), nullptr, nullptr));
    if (!connection.valid() || !set_close_on_exec(connection.get())) {
      std::lock_guard<std::mutex> guard(mutex_);
      busy_ = false;
      continue;
    }

    PeerExchange exchange;
    if (wait_readable(connection.get(), stop_read_.get())) {
      Result<std::string, FrameReadError> body = read_frame(connection.get(), FdKind::socket);
      if (body) {
        exchange.request_read = true;
        exchange.request = std::move(body).value();
      }
    }
    PeerAnswer answer = responder_(index, exchange.request);
    // A host that already went away is part of what tests provoke.
    (void)write_all(connection.get(), answer.bytes, FdKind::socket);
    if (answer.close_after) ::shutdown(connection.get(), SHUT_WR);
    // Whatever else the host sends, until it closes its end.
    while (wait_readable(connection.get(), stop_read_.get())) {
      char chunk[4096];
      Result<std::size_t> n = read_some(connection.get(), chunk, FdKind::socket);
      if (!n || *n == 0) break;
      exchange.after.append(chunk, *n);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    exchanges_.push_back(std::move(exchange));
    busy_ = false;
  }
}

Result<UniqueFd> listen_unserved(const ScratchDir& dir, std::string_view socket, int backlog) {
  std::string parent(socket.substr(0, socket.rfind('/') == std::string_view::npos ? 0 : socket.rfind('/')));
  if (!parent.empty()) dir.make_dirs(parent);
  return bind_relative(dir.path(), socket, backlog);
}

std::string length_only(std::uint32_t length) {
  const auto bytes = encode_frame_length(length);
  return std::string(bytes.data(), bytes.size());
}

Result<std::string> read_host_frame(ChildProcess& host) {
  Result<std::string> length_bytes = host.read_stdout_exact(kFrameLengthSize);
  if (!length_bytes) return std::move(length_bytes).error();
  std::uint32_t length = 0;
  std::memcpy(&length, length_bytes->data(), sizeof length);
  return host.read_stdout_exact(length);
}

std::string distinctive_token() {
  return "hardening-secret-" + std::string("0f1e2d3c4b5a69788796a5b4c3d2e1f0") + "-end-of-token";
}

void expect_no_token(std::string_view written, std::string_view where) {
  const std::string token = distinctive_token();
  EXPECT_EQ(written.find(token), std::string_view::npos) << "the token leaked to " << where;
  // Nor a recognisable piece of it.
  EXPECT_EQ(written.find(token.substr(17, 16)), std::string_view::npos) << "part of the token leaked to " << where;
}

void expect_no_token(const ChildOutput& output) {
  expect_no_token(output.out, "standard output");
  expect_no_token(output.err, "standard error");
}

}  // namespace vk::testing

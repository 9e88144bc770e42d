#include "tests/scripted_peer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// Binds and listens on `socket` relative to `dir`. The working directory is
// switched for the bind only: tests are single-threaded at this point.
Result<UniqueFd> bind_relative(const std::string& dir, std::string_view socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket.size() >= sizeof address.sun_path) return Error("socket path too long for the peer");
  std::memcpy(address.sun_path, socket.data(), socket.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!fd.valid()) return Error::from_errno(errno);
  if (Result<void> marked = set_close_on_exec(fd.get()); !marked) return std::move(marked).error();
  UniqueFd here(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!here.valid() || ::chdir(dir.c_str()) != 0) return Error::from_errno(errno);
  int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int bind_errno = errno;
  if (::fchdir(here.get()) != 0) return Error::from_errno(errno);
  if (bound != 0) return Error::from_errno(bind_errno);
  if (::listen(fd.get(), 64) != 0) return Error::from_errno(errno);
  return fd;
}

}  // namespace

std::unique_ptr<ScriptedPeer> ScriptedPeer::listen(const ScratchDir& dir, std::string_view socket,
                                                   Responder responder, std::optional<uid_t> owner) {
  std::string parent(socket.substr(0, socket.rfind('/') == std::string_view::npos ? 0 : socket.rfind('/')));
  if (!parent.empty()) dir.make_dirs(parent);
  Result<UniqueFd> listener = bind_relative(dir.path(), socket);
  if (!listener) {
    ADD_FAILURE() << "the scripted peer cannot listen on " << socket << ": " << listener.error().text();
    return nullptr;
  }
  if (owner) {
    std::string path = dir / socket;
    EXPECT_EQ(::lchown(path.c_str(), *owner, static_cast<gid_t>(*owner)), 0) << path;
  }
  UniqueFd stop_read;
  UniqueFd stop_write;
  if (Result<void> made = open_cloexec_pipe(stop_read, stop_write); !made) {
    ADD_FAILURE() << "pipe: " << made.error().text();
    return nullptr;
  }
  std::unique_ptr<ScriptedPeer> peer(new ScriptedPeer(std::move(listener).value(), std::move(stop_read),
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

}  // namespace vk::testing

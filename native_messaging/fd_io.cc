#include "native_messaging/fd_io.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vk {
namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

ssize_t read_once(int fd, char* buffer, std::size_t size, FdKind kind) {
  IoSyscalls& sys = io_syscalls();
  return kind == FdKind::socket ? sys.recv(fd, buffer, size, 0) : sys.read(fd, buffer, size);
}

ssize_t write_once(int fd, const char* data, std::size_t size, FdKind kind) {
  IoSyscalls& sys = io_syscalls();
  return kind == FdKind::socket ? sys.send(fd, data, size, kSendFlags) : sys.write(fd, data, size);
}

}  // namespace

IoSyscalls& io_syscalls() {
  static IoSyscalls table{::read, ::write, ::send, ::recv};
  return table;
}

Result<std::size_t> read_some(int fd, std::span<char> buffer, FdKind kind) {
  for (;;) {
    ssize_t n = read_once(fd, buffer.data(), buffer.size(), kind);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return Error::from_errno(errno);
  }
}

Result<void> read_exact(int fd, std::span<char> buffer, FdKind kind) {
  while (!buffer.empty()) {
    Result<std::size_t> n = read_some(fd, buffer, kind);
    if (!n) return std::move(n).error();
    if (*n == 0) return Error(std::string(kFailedToFillWholeBuffer));
    buffer = buffer.subspan(*n);
  }
  return {};
}

Result<void> write_all(int fd, std::string_view data, FdKind kind) {
  while (!data.empty()) {
    ssize_t n = write_once(fd, data.data(), data.size(), kind);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::from_errno(errno);
    }
    if (n == 0) return Error(std::string(kFailedToWriteWholeBuffer));
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace vk

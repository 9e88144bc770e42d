#include "native_messaging/unique_fd.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace vk {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> UniqueFd::close() {
  if (fd_ < 0) return {};
  if (::close(release()) != 0) return Error::from_errno(errno);
  return {};
}

Result<void> set_close_on_exec(int fd) {
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return Error::from_errno(errno);
  return {};
}

Result<void> open_cloexec_pipe(UniqueFd& read_end, UniqueFd& write_end) {
  // pipe2 would do this in one step, but macOS lacks it.
  int fds[2];
  if (::pipe(fds) != 0) return Error::from_errno(errno);
  read_end = UniqueFd(fds[0]);
  write_end = UniqueFd(fds[1]);
  for (int fd : fds) {
    if (Result<void> marked = set_close_on_exec(fd); !marked) return marked;
  }
  return {};
}

}  // namespace vk

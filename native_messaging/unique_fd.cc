#include "native_messaging/unique_fd.h"

#include <errno.h>
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

}  // namespace vk

// A move-only owner of a file descriptor; closed is -1.
#pragma once

#include <utility>

#include "native_messaging/result.h"

namespace vk {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // Closes silently; call close() to learn of a failed close.
  ~UniqueFd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership without closing.
  int release() { return std::exchange(fd_, -1); }
  // Closes now and reports the close error. Never retried: after EINTR the
  // descriptor is already gone on Linux and macOS.
  Result<void> close();

 private:
  int fd_ = -1;
};

// Marks `fd` close-on-exec: for descriptors made where the flag cannot be
// asked for at creation (macOS has no SOCK_CLOEXEC, accept4 or pipe2).
Result<void> set_close_on_exec(int fd);

// Opens a pipe whose two ends close on exec, so a child started meanwhile
// inherits neither; one that should have an end gets a copy via dup2.
Result<void> open_cloexec_pipe(UniqueFd& read_end, UniqueFd& write_end);

}  // namespace vk

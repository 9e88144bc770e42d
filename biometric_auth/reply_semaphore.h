// The one-shot signal an authentication reply sends to the waiting caller:
// libdispatch on Apple platforms, a C++20 semaphore elsewhere.
#pragma once

#include <chrono>
#include <cstdint>

#if defined(__APPLE__)
#include <dispatch/dispatch.h>
#else
#include <semaphore>
#endif

namespace vk::biometric {

class ReplySemaphore {
 public:
  ReplySemaphore(const ReplySemaphore&) = delete;
  ReplySemaphore& operator=(const ReplySemaphore&) = delete;

#if defined(__APPLE__)
  ReplySemaphore() : semaphore_(dispatch_semaphore_create(0)) {}
  // Under ARC (Objective-C++) the semaphore is an object ARC releases, and
  // dispatch_release does not exist; in C++ it is released by hand.
#if __has_feature(objc_arc)
  ~ReplySemaphore() = default;
#else
  ~ReplySemaphore() { dispatch_release(semaphore_); }
#endif

  void signal() { dispatch_semaphore_signal(semaphore_); }

  // Waits until `limit` after now on the monotonic dispatch clock.
  bool waitFor(std::chrono::nanoseconds limit) {
    const dispatch_time_t deadline =
        dispatch_time(DISPATCH_TIME_NOW, static_cast<std::int64_t>(limit.count()));
    return dispatch_semaphore_wait(semaphore_, deadline) == 0;
  }

 private:
  dispatch_semaphore_t semaphore_;
#else
  ReplySemaphore() = default;

  void signal() { semaphore_.release(); }

  // Waits until `limit` after now on the monotonic clock.
  bool waitFor(std::chrono::nanoseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    return semaphore_.try_acquire_until(deadline);
  }

 private:
  std::binary_semaphore semaphore_{0};
#endif
};

}  // namespace vk::biometric

#include "native_messaging/fd_io.h"

#include <errno.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

namespace vk {
namespace {

// Replaces the system-call table for one test and restores it afterwards.
class ScriptedSyscalls : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = io_syscalls(); calls = 0; }
  void TearDown() override { io_syscalls() = saved_; }
  static inline int calls = 0;

 private:
  IoSyscalls saved_{};
};

TEST_F(ScriptedSyscalls, ReadRetriesInterruptedCallsAndLoopsOverShortReads) {
  io_syscalls().read = [](int, void* buffer, size_t) -> ssize_t {
    // Interrupted, then one byte per call.
    if (calls++ % 2 == 0) {
      errno = EINTR;
      return -1;
    }
    *static_cast<char*>(buffer) = 'a';
    return 1;
  };
  std::string out(3, '\0');
  ASSERT_TRUE(read_exact(0, std::span<char>(out.data(), out.size())));
  EXPECT_EQ(out, "aaa");
  EXPECT_EQ(calls, 6);
}

TEST_F(ScriptedSyscalls, WriteFailureTexts) {
  struct Case {
    ssize_t (*write)(int, const void*, size_t);
    std::string expected;
  };
  const Case cases[] = {
      {[](int, const void*, size_t) -> ssize_t { return 0; }, "failed to write whole buffer"},
      {[](int, const void*, size_t) -> ssize_t { errno = EPIPE; return -1; },
       Error::from_errno(EPIPE).text()},
      // Interrupted first, then a short write, then the refusal to go on.
      {[](int, const void*, size_t) -> ssize_t {
         switch (calls++) {
           case 0: errno = EINTR; return -1;
           case 1: return 2;
           default: errno = ECONNRESET; return -1;
         }
       },
       Error::from_errno(ECONNRESET).text()},
  };
  for (const Case& c : cases) {
    calls = 0;
    io_syscalls().write = c.write;
    Result<void> r = write_all(1, "abcd");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().text(), c.expected);
  }
}

}  // namespace
}  // namespace vk

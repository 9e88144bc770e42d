#include "biometric_auth/delete_every_copy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace vk::biometric {
namespace {

using Clock = std::chrono::steady_clock;

TEST(DeleteEveryCopyTest, SucceedsOnlyWhenTheLastPassFoundNothing) {
  constexpr OSStatus errSecIO = -36;
  const std::vector<OSStatus> allDeleted(kMaxDeletePasses, errSecSuccess);
  struct Row {
    std::vector<OSStatus> answers;  // of the passes, in order
    bool deadlinePassed;
    OSStatus result;
    int passes;
  };
  const std::vector<Row> rows = {
      {{errSecItemNotFound}, false, errSecItemNotFound, 1},
      {{errSecSuccess, errSecItemNotFound}, false, errSecSuccess, 2},
      {{errSecSuccess, errSecSuccess, errSecSuccess, errSecItemNotFound}, false, errSecSuccess, 4},
      {{errSecInteractionNotAllowed}, false, errSecInteractionNotAllowed, 1},
      // A copy that cannot be deleted: the delete failed, whatever went before.
      {{errSecSuccess, errSecIO}, false, errSecIO, 2},
      {allDeleted, false, errSecDuplicateItem, kMaxDeletePasses},
      // Past the deadline only the first pass runs, and cannot confirm.
      {{errSecItemNotFound}, true, errSecItemNotFound, 1},
      {{errSecSuccess, errSecItemNotFound}, true, errSecDuplicateItem, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.answers));
    int passes = 0;
    const auto deleteOnce = [&] {
      const auto index = static_cast<std::size_t>(passes++);
      return index < row.answers.size() ? row.answers[index] : errSecSuccess;
    };
    const Clock::time_point deadline = row.deadlinePassed ? Clock::now() - std::chrono::seconds(1)
                                                          : Clock::now() + std::chrono::hours(1);
    EXPECT_EQ(deleteEveryCopy(deleteOnce, deadline), row.result);
    EXPECT_EQ(passes, row.passes);
  }
}

}  // namespace
}  // namespace vk::biometric

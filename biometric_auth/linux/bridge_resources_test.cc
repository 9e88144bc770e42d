// The bridge lives inside a desktop app that runs for days: every public
// operation, on the real Linux backends, must leave the process's
// descriptors, threads and heap as it found them.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/linux/testing/dbus_mock_service.h"
#include "biometric_auth/linux/testing/desktop_session_probe.h"
#include "biometric_auth/linux/fprintd_biometrics.h"
#include "biometric_auth/linux/secret_service_keychain.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VK_TEST_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VK_TEST_UNDER_ASAN 1
#endif
#ifdef VK_TEST_UNDER_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace vk::biometric::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::MockService;

std::size_t entriesIn(const char* directory) {
  std::size_t count = 0;
  if (DIR* dir = opendir(directory)) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}

// Heap bytes in use now: glibc's count for its main arena, or ASan's for all.
std::size_t heapInUse() {
#ifdef VK_TEST_UNDER_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

struct Usage {
  std::size_t descriptors = 0;  // the directory listing's own included, always
  std::size_t threads = 0;
  std::size_t heap = 0;
};

Usage usageNow() { return {entriesIn("/proc/self/fd"), entriesIn("/proc/self/task"), heapInUse()}; }

// Usage once the threads and descriptors an operation let go of are gone:
// an evaluation thread ends just after replying, and a closed connection's
// socket may be shut by GDBus's own thread a moment after the close.
Usage settledUsage(const Usage& target) {
  for (int i = 0; i < 200; ++i) {
    const Usage now = usageNow();
    if (now.threads <= target.threads && now.descriptors <= target.descriptors) break;
    std::this_thread::sleep_for(10ms);
  }
  return usageNow();
}

// Usage once it no longer changes.
Usage steadyUsage() {
  Usage last = usageNow();
  for (int steady = 0, i = 0; steady < 5 && i < 200; ++i) {
    std::this_thread::sleep_for(10ms);
    const Usage now = usageNow();
    steady = now.threads == last.threads && now.descriptors == last.descriptors ? steady + 1 : 0;
    last = now;
  }
  return usageNow();
}

// The bridge's manager on both real backends, on the private session's
// services (fprintd's mock there stands in for the system bus's).
class DesktopManager : public BiometricAuthManager {
 public:
  explicit DesktopManager(FprintdSettings settings)
      : BiometricAuthManager(makeFprintdPlatform(std::move(settings)),
                             makeSecretServiceKeychain({}), 10s) {}
};

TEST(BridgeResources, EveryOperationLeavesDescriptorsThreadsAndHeapAsFound) {
  const std::string reason = testing::privateSessionUnavailableReason("org.freedesktop.secrets");
  if (!reason.empty()) GTEST_SKIP() << reason;
  if (access(testing::kSystemPython, X_OK) != 0) GTEST_SKIP() << testing::kSystemPython << " missing";
  MockService fprintd(VK_FPRINTD_TEMPLATE, "net.reactivated.Fprint");
  MockService notifications("notification_daemon", "org.freedesktop.Notifications");
  if (!fprintd.ready() || !notifications.ready()) {
    GTEST_SKIP() << "python3-dbusmock could not start its services";
  }
  // The test's own calls to the mocks share one connection, held throughout.
  GDBusConnection* test_bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(test_bus, nullptr);
  FprintdSettings settings;
  settings.fprintd_bus_address = testing::sessionBusAddress();
  settings.notification_bus_address = testing::sessionBusAddress();
  DesktopManager manager(settings);
  const auto matchNextScan = [] {
    GVariant* reply = testing::callSessionMethod(
        "net.reactivated.Fprint", "/net/reactivated/Fprint/Manager", testing::kMockInterface,
        "QueueVerifyStatus", g_variant_new_parsed("([('verify-match', true)],)"));
    if (reply != nullptr) g_variant_unref(reply);
  };
  const std::string service = "com.tarnwick.resources";

  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const std::vector<Case> cases = {
      {"isBiometricAvailable", [&] { EXPECT_TRUE(manager.isBiometricAvailable().available); }},
      {"authenticate",
       [&] {
         matchNextScan();
         EXPECT_EQ(manager.authenticate("Unlock the vault"), BiometricError::success);
       }},
      {"storeInKeychain",
       [&] { EXPECT_TRUE(manager.storeInKeychain("k", "value", service).success); }},
      {"retrieveFromKeychain",
       [&] { EXPECT_EQ(manager.retrieveFromKeychain("k", service), "value"); }},
      {"deleteFromKeychain and a store that creates",
       [&] {
         EXPECT_TRUE(manager.deleteFromKeychain("k", service));
         EXPECT_TRUE(manager.storeInKeychain("k", "value", service).success);
       }},
  };
  // A leaked main context and bus connection cost about 10 kB a call; what
  // GLib's caches still take after the warm-up stays far below this.
  constexpr std::size_t kCalls = 40;
  constexpr std::size_t kHeapPerCall = 2048;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < 10; ++i) c.call();
    const Usage before = steadyUsage();
    for (std::size_t i = 0; i < kCalls; ++i) c.call();
    const Usage after = settledUsage(before);
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LT(after.heap, before.heap + kCalls * kHeapPerCall)
        << "heap grew by " << (after.heap - before.heap) << " bytes over " << kCalls << " calls";
  }
  g_object_unref(test_bus);
}

}  // namespace
}  // namespace vk::biometric::linux_backend

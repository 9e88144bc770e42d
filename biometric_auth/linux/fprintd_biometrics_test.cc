#include "biometric_auth/linux/fprintd_biometrics.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "biometric_auth/linux/testing/dbus_mock_service.h"
#include "biometric_auth/linux/testing/desktop_session_probe.h"

namespace vk::biometric::linux_backend {
namespace {

using namespace std::chrono_literals;

constexpr const char* kManagerPath = "/net/reactivated/Fprint/Manager";

using testing::callSessionMethod;
using testing::kMockInterface;
using testing::kSystemPython;
using testing::MockService;

// Calls a method of the fprintd mock's control interface.
GVariant* callFprintdMock(const char* method, GVariant* args, const char* reply_type = nullptr) {
  return callSessionMethod("net.reactivated.Fprint", kManagerPath, kMockInterface, method, args,
                           reply_type);
}

void control(const char* method, GVariant* args) {
  GVariant* reply = callFprintdMock(method, args);
  if (reply != nullptr) g_variant_unref(reply);
}

std::string claimant() {
  GVariant* reply = callFprintdMock("GetClaimant", nullptr, "(s)");
  if (reply == nullptr) return "?";
  const gchar* name = nullptr;
  g_variant_get(reply, "(&s)", &name);
  std::string result(name);
  g_variant_unref(reply);
  return result;
}

int verifyStarts() {
  return testing::takeIntReply(callFprintdMock("GetVerifyStarts", nullptr, "(i)"));
}

void queueStatuses(const std::vector<std::pair<const char*, bool>>& statuses) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(sb)"));
  for (const auto& [result, done] : statuses) {
    g_variant_builder_add(&builder, "(sb)", result, done ? TRUE : FALSE);
  }
  control("QueueVerifyStatus", g_variant_new("(a(sb))", &builder));
}

// The reply of one evaluation, with the thread it arrived on.
struct Reply {
  int count = 0;
  bool success = false;
  std::optional<PlatformError> error;
  std::thread::id thread;
};

// Starts an evaluation, drops the context at once (the reply must not need
// it) and waits for the reply.
Reply evaluate(BiometricPlatform& platform, std::chrono::milliseconds wait = 30s,
               const std::function<void()>& while_waiting = {}) {
  auto state = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto reply = std::make_shared<Reply>();
  {
    auto context = platform.makeContext();
    context->setLocalizedFallbackTitle("Use Password");
    context->evaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics, "Unlock the vault",
                            [state, reply](bool success, std::optional<PlatformError> error) {
                              std::lock_guard lock(state->first);
                              ++reply->count;
                              reply->success = success;
                              reply->error = std::move(error);
                              reply->thread = std::this_thread::get_id();
                              state->second.notify_all();
                            });
  }
  if (while_waiting) while_waiting();
  std::unique_lock lock(state->first);
  state->second.wait_for(lock, wait, [&] { return reply->count > 0; });
  return *reply;
}

std::optional<std::int64_t> codeOf(const Reply& reply) {
  if (!reply.error) return std::nullopt;
  EXPECT_EQ(reply.error->domain, kLocalAuthenticationErrorDomain);
  return reply.error->code;
}

class FprintdBiometricsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason = testing::privateSessionUnavailableReason(nullptr);
    if (!reason.empty()) GTEST_SKIP() << reason;
    if (access(kSystemPython, X_OK) != 0) GTEST_SKIP() << kSystemPython << " is missing";
    fprintd_ = std::make_unique<MockService>(VK_FPRINTD_TEMPLATE, "net.reactivated.Fprint");
    if (!fprintd_->ready()) GTEST_SKIP() << "python3-dbusmock could not start the fprintd mock";
    settings_.fprintd_bus_address = testing::sessionBusAddress();
    settings_.notification_bus_address = testing::sessionBusAddress();
    settings_.verify_limit = 10s;
    platform_ = makeFprintdPlatform(settings_);
  }

  CanEvaluateAnswer canEvaluate() {
    return platform_->makeContext()->canEvaluatePolicy(
        kPolicyDeviceOwnerAuthenticationWithBiometrics);
  }

  FprintdSettings settings_;
  std::unique_ptr<MockService> fprintd_;
  std::unique_ptr<BiometricPlatform> platform_;
};

TEST_F(FprintdBiometricsTest, AvailabilityFollowsSensorAndEnrolment) {
  struct Case {
    const char* name;
    bool device;
    std::vector<const char*> fingers;
    bool permission_denied;
    std::int64_t biometry_type;
    std::optional<std::int64_t> code;  // empty: can evaluate
  };
  const std::vector<Case> cases = {
      {"enrolled finger", true, {"right-index-finger"}, false, 1, std::nullopt},
      {"nothing enrolled", true, {}, false, 1, platform::kBiometryNotEnrolled},
      {"no sensor", false, {"right-index-finger"}, false, 0, platform::kBiometryNotAvailable},
      {"polkit refuses", true, {"right-index-finger"}, true, 1, platform::kBiometryNotAvailable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    control("SetDevicePresent", g_variant_new("(b)", c.device));
    control("SetEnrolledFingers", g_variant_new_parsed("(@as [],)"));
    if (!c.fingers.empty()) {
      control("SetEnrolledFingers",
              g_variant_new("(^as)", std::vector<const char*>{c.fingers[0], nullptr}.data()));
    }
    control("SetPermissionDenied", g_variant_new("(b)", c.permission_denied));

    EXPECT_EQ(platform_->makeContext()->biometryType(), c.biometry_type);
    const CanEvaluateAnswer answer = canEvaluate();
    EXPECT_EQ(answer.can_evaluate, !c.code.has_value());
    if (c.code) {
      ASSERT_TRUE(answer.error.has_value());
      EXPECT_EQ(answer.error->domain, kLocalAuthenticationErrorDomain);
      EXPECT_EQ(answer.error->code, *c.code);
    }
  }
}

TEST_F(FprintdBiometricsTest, ScanOutcomesGiveOneReplyAndReleaseTheSensor) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, bool>> statuses;
    std::optional<std::int64_t> code;  // empty: success
    int verify_starts;
  };
  const std::vector<Case> cases = {
      {"match", {{"verify-match", true}}, std::nullopt, 1},
      {"retries then match",
       {{"verify-retry-scan", false}, {"verify-swipe-too-short", false},
        {"verify-finger-not-centered", false}, {"verify-match", true}},
       std::nullopt, 1},
      {"third finger matches",
       {{"verify-no-match", true}, {"verify-no-match", true}, {"verify-match", true}},
       std::nullopt, 3},
      {"three wrong fingers",
       {{"verify-no-match", true}, {"verify-no-match", true}, {"verify-no-match", true}},
       platform::kAuthenticationFailed, 3},
      {"sensor error", {{"verify-unknown-error", true}}, platform::kSystemCancel, 1},
      {"sensor unplugged", {{"verify-disconnected", true}}, platform::kSystemCancel, 1},
  };
  int starts_before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    queueStatuses(c.statuses);
    const Reply reply = evaluate(*platform_);
    ASSERT_EQ(reply.count, 1);
    EXPECT_NE(reply.thread, std::this_thread::get_id());
    EXPECT_EQ(reply.success, !c.code.has_value());
    EXPECT_EQ(codeOf(reply), c.code);
    EXPECT_EQ(claimant(), "");
    const int starts = verifyStarts();
    EXPECT_EQ(starts - starts_before, c.verify_starts);
    starts_before = starts;
  }
}

TEST_F(FprintdBiometricsTest, RefusalsBeforeTheScanMapToPlatformCodes) {
  control("SetEnrolledFingers", g_variant_new_parsed("(@as [],)"));
  Reply reply = evaluate(*platform_);
  EXPECT_EQ(codeOf(reply), platform::kBiometryNotEnrolled);

  control("SetEnrolledFingers", g_variant_new_parsed("(['left-thumb'],)"));
  control("SetPermissionDenied", g_variant_new("(b)", TRUE));
  reply = evaluate(*platform_);
  EXPECT_EQ(codeOf(reply), platform::kBiometryNotAvailable);

  control("SetPermissionDenied", g_variant_new("(b)", FALSE));
  control("SetDevicePresent", g_variant_new("(b)", FALSE));
  reply = evaluate(*platform_);
  EXPECT_EQ(codeOf(reply), platform::kBiometryNotAvailable);
  EXPECT_EQ(verifyStarts(), 0);
}

TEST_F(FprintdBiometricsTest, SensorClaimedByAnotherConnectionIsSystemCancel) {
  // A private connection of the test holds the claim, as another program would.
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  GDBusConnection* other = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  g_free(address);
  ASSERT_NE(other, nullptr);
  GVariant* claimed = g_dbus_connection_call_sync(
      other, "net.reactivated.Fprint", "/net/reactivated/Fprint/Device/0",
      "net.reactivated.Fprint.Device", "Claim", g_variant_new("(s)", ""), nullptr,
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(claimed, nullptr);
  g_variant_unref(claimed);

  queueStatuses({{"verify-match", true}});
  Reply reply = evaluate(*platform_);
  EXPECT_EQ(codeOf(reply), platform::kSystemCancel);
  EXPECT_EQ(claimant(), g_dbus_connection_get_unique_name(other));

  // Closing the other connection frees the sensor for us.
  g_dbus_connection_close_sync(other, nullptr, nullptr);
  g_object_unref(other);
  for (int i = 0; i < 100 && claimant() != ""; ++i) std::this_thread::sleep_for(20ms);
  reply = evaluate(*platform_);
  EXPECT_TRUE(reply.success);
}

TEST_F(FprintdBiometricsTest, NoFingerBeforeTheDeadlineReleasesTheSensor) {
  settings_.verify_limit = 1s;
  settings_.cleanup_limit = 300ms;
  auto quick = makeFprintdPlatform(settings_);
  const Reply reply = evaluate(*quick);
  ASSERT_EQ(reply.count, 1);
  EXPECT_EQ(codeOf(reply), platform::kAppCancel);
  EXPECT_EQ(claimant(), "");
}

TEST_F(FprintdBiometricsTest, FprintdVanishingDuringTheScanIsSystemCancel) {
  const Reply reply = evaluate(*platform_, 30s, [this] {
    for (int i = 0; i < 200 && verifyStarts() == 0; ++i) std::this_thread::sleep_for(10ms);
    fprintd_->stop();
  });
  ASSERT_EQ(reply.count, 1);
  EXPECT_EQ(codeOf(reply), platform::kSystemCancel);
}

TEST_F(FprintdBiometricsTest, ReasonIsShownAsANotificationWhileWaiting) {
  MockService notifications("notification_daemon", "org.freedesktop.Notifications");
  ASSERT_TRUE(notifications.ready());
  queueStatuses({{"verify-match", true}});
  const Reply reply = evaluate(*platform_);
  EXPECT_TRUE(reply.success);

  GVariant* calls = callSessionMethod("org.freedesktop.Notifications",
                                      "/org/freedesktop/Notifications", kMockInterface, "GetCalls",
                                      nullptr, "(a(tsav))");
  ASSERT_NE(calls, nullptr);
  GVariantIter* iter = nullptr;
  g_variant_get(calls, "(a(tsav))", &iter);
  std::vector<std::string> methods;
  std::string body;
  guint64 when = 0;
  const gchar* method = nullptr;
  GVariantIter* args = nullptr;
  while (g_variant_iter_next(iter, "(t&sav)", &when, &method, &args)) {
    methods.emplace_back(method);
    if (methods.back() == "Notify") {
      GVariant* arg = nullptr;
      for (int i = 0; g_variant_iter_next(args, "v", &arg); ++i) {
        if (i == 4) body = g_variant_get_string(arg, nullptr);
        g_variant_unref(arg);
      }
    }
    g_variant_iter_free(args);
  }
  g_variant_iter_free(iter);
  g_variant_unref(calls);
  EXPECT_EQ(methods, (std::vector<std::string>{"Notify", "CloseNotification"}));
  EXPECT_EQ(body, "Unlock the vault");
}

TEST_F(FprintdBiometricsTest, FrozenFprintdCostsOneDeadlinePerCheck) {
  settings_.call_limit = 1500ms;
  auto quick = makeFprintdPlatform(settings_);
  ASSERT_EQ(kill(fprintd_->pid(), SIGSTOP), 0);
  const auto started = std::chrono::steady_clock::now();
  // What one availability check asks of one context.
  auto context = quick->makeContext();
  const std::int64_t type = context->biometryType();
  const CanEvaluateAnswer answer =
      context->canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics);
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(kill(fprintd_->pid(), SIGCONT), 0);

  EXPECT_EQ(type, 0);
  EXPECT_FALSE(answer.can_evaluate);
  ASSERT_TRUE(answer.error.has_value());
  EXPECT_EQ(answer.error->code, platform::kBiometryNotAvailable);
  EXPECT_LT(took, settings_.call_limit * 3 / 2);
}

TEST_F(FprintdBiometricsTest, SensorIsFreeWhenTheCallerStopsWaiting) {
  // A frozen notification service holds up the reason notification.
  MockService notifications("notification_daemon", "org.freedesktop.Notifications");
  ASSERT_TRUE(notifications.ready());
  ASSERT_EQ(kill(notifications.pid(), SIGSTOP), 0);
  settings_.verify_limit = 3s;
  settings_.cleanup_limit = 1s;
  auto quick = makeFprintdPlatform(settings_);

  // No finger; the caller waits as long as the manager would, from the moment
  // the evaluation started.
  const Reply abandoned = evaluate(*quick, settings_.verify_limit);
  EXPECT_EQ(abandoned.count, 1);
  EXPECT_EQ(codeOf(abandoned), platform::kAppCancel);
  // A retry right away gets the sensor.
  queueStatuses({{"verify-match", true}});
  const Reply retry = evaluate(*quick);
  EXPECT_TRUE(retry.success);
  EXPECT_EQ(codeOf(retry), std::nullopt);
}

TEST(FprintdBiometricsWithoutFprintd, NotAvailableAtOnce) {
  const std::string reason = testing::privateSessionUnavailableReason(nullptr);
  if (!reason.empty()) GTEST_SKIP() << reason;
  FprintdSettings settings;
  settings.fprintd_bus_address = testing::sessionBusAddress();  // a bus without fprintd
  auto platform = makeFprintdPlatform(settings);
  auto context = platform->makeContext();
  EXPECT_EQ(context->biometryType(), 0);
  const CanEvaluateAnswer answer =
      context->canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics);
  EXPECT_FALSE(answer.can_evaluate);
  ASSERT_TRUE(answer.error.has_value());
  EXPECT_EQ(answer.error->code, platform::kBiometryNotAvailable);
  const Reply reply = evaluate(*platform);
  EXPECT_EQ(codeOf(reply), platform::kBiometryNotAvailable);

  // No bus at all answers the same way.
  settings.fprintd_bus_address = "unix:path=./no-such-system-bus";
  auto unreachable = makeFprintdPlatform(settings);
  EXPECT_EQ(unreachable->makeContext()->biometryType(), 0);
  EXPECT_FALSE(unreachable->makeContext()
                   ->canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics)
                   .can_evaluate);
}

}  // namespace
}  // namespace vk::biometric::linux_backend

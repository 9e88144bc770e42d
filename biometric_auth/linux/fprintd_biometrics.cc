#include "biometric_auth/linux/fprintd_biometrics.h"

#include <pthread.h>

#include <algorithm>
#include <deque>
#include <string_view>
#include <utility>

#include "biometric_auth/linux/glib_deadline.h"
#include "biometric_auth/linux/private_bus.h"

namespace vk::biometric::linux_backend {
namespace {

constexpr const char* kFprintdName = "net.reactivated.Fprint";
constexpr const char* kManagerPath = "/net/reactivated/Fprint/Manager";
constexpr const char* kManagerInterface = "net.reactivated.Fprint.Manager";
constexpr const char* kDeviceInterface = "net.reactivated.Fprint.Device";
constexpr std::string_view kFprintdErrorPrefix = "net.reactivated.Fprint.Error.";

constexpr const char* kNotificationsName = "org.freedesktop.Notifications";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kNotificationsInterface = "org.freedesktop.Notifications";
constexpr const char* kNotificationSummary = "Touch the fingerprint sensor";

using Clock = DeadlineLoop::Clock;

PlatformError laError(std::int64_t code) { return {std::string(kLocalAuthenticationErrorDomain), code}; }

// The deadline of a step that may take `limit` but must end by `end`.
Clock::time_point within(std::chrono::milliseconds limit, Clock::time_point end) {
  return std::min(Clock::now() + limit, end);
}

// fprintd's short error name ("NoSuchDevice"), or empty for other errors.
std::string fprintdError(const GError* error) {
  const std::string name = remoteErrorName(error);
  if (name.compare(0, kFprintdErrorPrefix.size(), kFprintdErrorPrefix) != 0) return {};
  return name.substr(kFprintdErrorPrefix.size());
}

// A connection to fprintd's bus and the path of its default sensor.
struct Sensor {
  GObjectPtr<GDBusConnection> connection;
  std::string device_path;
};

// Finds the default sensor. Checks fprintd is running or activatable before
// calling it, so a system without fprintd answers at once instead of
// waiting for an activation that cannot happen.
bool findSensor(const FprintdSettings& settings, DeadlineLoop& loop, Sensor& sensor) {
  GErrorPtr error;
  const std::string address = settings.fprintd_bus_address
                                  ? *settings.fprintd_bus_address
                                  : busAddress(G_BUS_TYPE_SYSTEM, loop, error);
  if (address.empty()) return false;
  sensor.connection = connectBus(address, loop, error);
  if (!sensor.connection) return false;
  if (!nameIsReachable(sensor.connection.get(), loop, kFprintdName)) return false;
  // NoSuchDevice, PermissionDenied or no answer: no sensor to use.
  GVariantPtr device = callMethod(sensor.connection.get(), loop, kFprintdName, kManagerPath,
                                  kManagerInterface, "GetDefaultDevice", nullptr, "(o)", error);
  if (!device) return false;
  const gchar* path = nullptr;
  g_variant_get(device.get(), "(&o)", &path);
  sensor.device_path = path;
  return true;
}

// The reason shown while fprintd waits for a finger; fprintd draws nothing.
// Showing it may take until `shown_by`, closing it until `closed_by`. One
// loop serves both, so that the connection closes in the context it was
// opened in.
class ReasonNotification {
 public:
  ReasonNotification(const FprintdSettings& settings, std::string_view reason,
                     Clock::time_point shown_by, Clock::time_point closed_by)
      : settings_(settings), closed_by_(closed_by),
        loop_(within(settings_.cleanup_limit, shown_by)) {
    GErrorPtr error;
    const std::string address = settings_.notification_bus_address
                                    ? *settings_.notification_bus_address
                                    : busAddress(G_BUS_TYPE_SESSION, loop_, error);
    if (address.empty()) return;
    connection_ = connectBus(address, loop_, error);
    // Only a notification service that is already running: starting one
    // could take longer than the person is willing to wait.
    if (!connection_ || !nameHasOwner(connection_.get(), loop_, kNotificationsName)) return;
    gchar* body = g_utf8_make_valid(reason.data(), static_cast<gssize>(reason.size()));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));
    g_variant_builder_add(&hints, "{sv}", "transient", g_variant_new_boolean(TRUE));
    const auto expire_ms = static_cast<gint32>(settings_.verify_limit.count());
    GVariantPtr reply = callMethod(
        connection_.get(), loop_, kNotificationsName, kNotificationsPath, kNotificationsInterface,
        "Notify",
        g_variant_new("(susssasa{sv}i)", "vellumkeep-native", 0u, "auth-fingerprint-symbolic",
                      kNotificationSummary, body, nullptr, &hints, expire_ms),
        "(u)", error, G_DBUS_CALL_FLAGS_NO_AUTO_START);
    g_free(body);
    if (reply) g_variant_get(reply.get(), "(u)", &id_);
  }

  ReasonNotification(const ReasonNotification&) = delete;
  ReasonNotification& operator=(const ReasonNotification&) = delete;

  ~ReasonNotification() {
    if (!connection_) return;
    loop_.restart(within(settings_.cleanup_limit, closed_by_));
    if (id_ != 0) {
      GErrorPtr error;
      callMethod(connection_.get(), loop_, kNotificationsName, kNotificationsPath,
                 kNotificationsInterface, "CloseNotification", g_variant_new("(u)", id_), nullptr,
                 error, G_DBUS_CALL_FLAGS_NO_AUTO_START);
    }
    closeBus(connection_.get(), loop_);
  }

 private:
  const FprintdSettings& settings_;
  const Clock::time_point closed_by_;
  DeadlineLoop loop_;
  GObjectPtr<GDBusConnection> connection_;
  guint32 id_ = 0;
};

struct Outcome {
  bool success = false;
  std::optional<PlatformError> error;
};

Outcome failed(std::int64_t code) { return {false, laError(code)}; }

// One verification on its own connection: the claim on the sensor belongs
// to that connection, and closing it releases the sensor whatever happened.
// Scanning ends by `scan_end`, releasing the sensor by `released_by`.
class Verification {
 public:
  Verification(const FprintdSettings& settings, Clock::time_point scan_end,
               Clock::time_point released_by)
      : settings_(settings), released_by_(released_by), loop_(scan_end) {}

  Verification(const Verification&) = delete;
  Verification& operator=(const Verification&) = delete;

  ~Verification() { cleanUp(); }

  Outcome run() {
    const Outcome outcome = verify();
    // Whatever failed once the deadline passed failed because of it: the
    // evaluation ran out of time, which the caller reads as no answer.
    if (!outcome.success && loop_.expired()) return failed(platform::kAppCancel);
    return outcome;
  }

 private:
  enum class Scan { match, noMatch, ended };

  Outcome verify() {
    if (!findSensor(settings_, loop_, sensor_)) return failed(platform::kBiometryNotAvailable);
    GDBusConnection* bus = sensor_.connection.get();
    owner_watch_ = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kFprintdName, G_DBUS_SIGNAL_FLAGS_NONE,
        &Verification::onOwnerChanged, this, nullptr);
    status_watch_ = g_dbus_connection_signal_subscribe(
        bus, kFprintdName, kDeviceInterface, "VerifyStatus", sensor_.device_path.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Verification::onVerifyStatus, this, nullptr);

    GErrorPtr error;
    if (!callDevice("Claim", g_variant_new("(s)", ""), error)) {
      const std::string name = fprintdError(error.get());
      if (name == "PermissionDenied" || name == "NoSuchDevice") {
        return failed(platform::kBiometryNotAvailable);
      }
      return failed(platform::kSystemCancel);  // AlreadyInUse, fprintd gone, deadline
    }
    claimed_ = true;

    for (int attempt = 0; attempt < settings_.attempts; ++attempt) {
      if (!callDevice("VerifyStart", g_variant_new("(s)", "any"), error)) {
        if (fprintdError(error.get()) == "NoEnrolledPrints") {
          return failed(platform::kBiometryNotEnrolled);
        }
        return failed(platform::kSystemCancel);
      }
      verifying_ = true;
      const Scan scan = awaitScan();
      if (scan == Scan::match) return {true, std::nullopt};
      if (scan == Scan::ended) return failed(platform::kSystemCancel);
      // No match: fprintd ended this verification; start the next one.
      verifying_ = false;
      if (!callDevice("VerifyStop", nullptr, error)) return failed(platform::kSystemCancel);
    }
    return failed(platform::kAuthenticationFailed);
  }

  bool callDevice(const char* method, GVariant* args, GErrorPtr& error) {
    error.reset();
    return static_cast<bool>(callMethod(sensor_.connection.get(), loop_, kFprintdName,
                                        sensor_.device_path.c_str(), kDeviceInterface, method,
                                        args, nullptr, error));
  }

  // Waits for the status that ends this scan; statuses that ask for another
  // touch (retry, swipe too short, finger not centred) keep it waiting.
  Scan awaitScan() {
    for (;;) {
      loop_.iterateUntil([this] {
        return !statuses_.empty() || vanished_ || g_dbus_connection_is_closed(sensor_.connection.get());
      });
      if (statuses_.empty()) return Scan::ended;  // fprintd gone, bus gone or deadline
      const auto [result, done] = statuses_.front();
      statuses_.pop_front();
      if (result == "verify-match") return Scan::match;
      if (result == "verify-no-match") return Scan::noMatch;
      if (done) return Scan::ended;  // verify-disconnected, verify-unknown-error, ...
    }
  }

  static void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar*, GVariant* parameters, gpointer self) {
    const gchar* new_owner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &new_owner);
    if (new_owner[0] == '\0') static_cast<Verification*>(self)->vanished_ = true;
  }

  static void onVerifyStatus(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar*, GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sb)"))) return;
    const gchar* result = nullptr;
    gboolean done = FALSE;
    g_variant_get(parameters, "(&sb)", &result, &done);
    static_cast<Verification*>(self)->statuses_.emplace_back(result, done != FALSE);
  }

  // Stops and releases on a deadline of its own (the scan's may have
  // passed), then closes the connection, which releases the claim anyway.
  void cleanUp() {
    GDBusConnection* bus = sensor_.connection.get();
    if (bus == nullptr) return;
    loop_.restart(within(settings_.cleanup_limit, released_by_));
    GErrorPtr error;
    if (!vanished_ && verifying_) {
      callMethod(bus, loop_, kFprintdName, sensor_.device_path.c_str(), kDeviceInterface,
                 "VerifyStop", nullptr, nullptr, error);
    }
    if (!vanished_ && claimed_) {
      error.reset();
      callMethod(bus, loop_, kFprintdName, sensor_.device_path.c_str(), kDeviceInterface,
                 "Release", nullptr, nullptr, error);
    }
    if (owner_watch_ != 0) g_dbus_connection_signal_unsubscribe(bus, owner_watch_);
    if (status_watch_ != 0) g_dbus_connection_signal_unsubscribe(bus, status_watch_);
    closeBus(bus, loop_);
    sensor_.connection.reset();
  }

  const FprintdSettings& settings_;
  const Clock::time_point released_by_;
  DeadlineLoop loop_;
  Sensor sensor_;
  guint owner_watch_ = 0;
  guint status_watch_ = 0;
  bool claimed_ = false;
  bool verifying_ = false;
  bool vanished_ = false;
  std::deque<std::pair<std::string, bool>> statuses_;
};

// Everything an evaluation thread needs; it owns it and nothing else.
struct EvaluationJob {
  FprintdSettings settings;
  std::string reason;
  EvaluateReply reply;
  // When the caller stops waiting at the earliest: its wait starts once
  // evaluatePolicy returns, so this is taken just before.
  Clock::time_point end;
};

void* runEvaluation(void* raw_job) {
  std::unique_ptr<EvaluationJob> job(static_cast<EvaluationJob*>(raw_job));
  // The scan stops early enough to release the sensor before the caller
  // gives up, so that a retry at once finds it free.
  const Clock::time_point scan_end =
      job->end - std::min(job->settings.cleanup_limit, job->settings.verify_limit / 2);
  Outcome outcome;
  {
    ReasonNotification notification(job->settings, job->reason, scan_end, job->end);
    Verification verification(job->settings, scan_end, job->end);
    outcome = verification.run();
  }
  // Only after the sensor is released, so a caller may start again at once.
  job->reply(outcome.success, std::move(outcome.error));
  return nullptr;
}

class FprintdContext final : public BiometricContext {
 public:
  // One deadline for all the checks made through this context: the manager
  // makes one context per public call.
  explicit FprintdContext(const FprintdSettings& settings)
      : settings_(settings), checks_end_(Clock::now() + settings.call_limit) {}

  // fprintd shows no prompt and so no fallback button.
  void setLocalizedFallbackTitle(std::string_view /*title*/) override {}

  std::int64_t biometryType() override {
    DeadlineLoop loop(checks_end_);
    Sensor sensor;
    const bool found = findSensor(settings_, loop, sensor);
    closeBus(sensor.connection.get(), loop);
    return found ? platform::kBiometryTouchID : 0;
  }

  CanEvaluateAnswer canEvaluatePolicy(std::int64_t policy) override {
    if (policy != kPolicyDeviceOwnerAuthenticationWithBiometrics) {
      return {false, laError(platform::kBiometryNotAvailable)};
    }
    DeadlineLoop loop(checks_end_);
    Sensor sensor;
    const CanEvaluateAnswer answer = check(loop, sensor);
    closeBus(sensor.connection.get(), loop);
    return answer;
  }

  void evaluatePolicy(std::int64_t /*policy*/, std::string_view reason,
                      EvaluateReply reply) override {
    auto* job = new EvaluationJob{settings_, std::string(reason), std::move(reply),
                                  Clock::now() + settings_.verify_limit};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // Detached: the thread owns its job and may outlive this context and
    // the caller's wait; it touches nothing else.
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int started = pthread_create(&thread, &attributes, &runEvaluation, job);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
      // No thread to wait on: the one reply comes from here instead.
      std::unique_ptr<EvaluationJob> owned(job);
      owned->reply(false, laError(platform::kSystemCancel));
    }
  }

 private:
  CanEvaluateAnswer check(DeadlineLoop& loop, Sensor& sensor) {
    if (!findSensor(settings_, loop, sensor)) return {false, laError(platform::kBiometryNotAvailable)};
    GErrorPtr error;
    GVariantPtr fingers = callMethod(sensor.connection.get(), loop, kFprintdName,
                                     sensor.device_path.c_str(), kDeviceInterface,
                                     "ListEnrolledFingers", g_variant_new("(s)", ""), "(as)", error);
    if (!fingers) {
      if (fprintdError(error.get()) == "NoEnrolledPrints") {
        return {false, laError(platform::kBiometryNotEnrolled)};
      }
      return {false, laError(platform::kBiometryNotAvailable)};
    }
    GVariant* list = g_variant_get_child_value(fingers.get(), 0);
    const gsize count = g_variant_n_children(list);
    g_variant_unref(list);
    if (count == 0) return {false, laError(platform::kBiometryNotEnrolled)};
    return {true, std::nullopt};
  }

  FprintdSettings settings_;
  const Clock::time_point checks_end_;
};

class FprintdPlatform final : public BiometricPlatform {
 public:
  explicit FprintdPlatform(FprintdSettings settings) : settings_(std::move(settings)) {}
  std::unique_ptr<BiometricContext> makeContext() override {
    return std::make_unique<FprintdContext>(settings_);
  }

 private:
  FprintdSettings settings_;
};

}  // namespace

std::unique_ptr<BiometricPlatform> makeFprintdPlatform(FprintdSettings settings) {
  return std::make_unique<FprintdPlatform>(std::move(settings));
}

}  // namespace vk::biometric::linux_backend

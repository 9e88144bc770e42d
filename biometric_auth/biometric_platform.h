// The platform operations the biometric manager is built on: a per-call
// context with a synchronous policy check and an asynchronous evaluation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vk::biometric {

// The error domain of the platform's own authentication errors. (Not
// named kLAErrorDomain: LocalAuthentication defines that as a macro.)
inline constexpr std::string_view kLocalAuthenticationErrorDomain = "com.apple.LocalAuthentication";
// The only policy ever checked or evaluated: biometrics only.
inline constexpr std::int64_t kPolicyDeviceOwnerAuthenticationWithBiometrics = 1;

// The platform's numbers that the manager tells apart and that the other
// backends report: biometry kinds (LABiometryType) and error codes
// (LAError). The macOS backend checks each against the framework's own
// value at compile time.
namespace platform {
inline constexpr std::int64_t kBiometryTouchID = 1;  // also any fingerprint sensor
inline constexpr std::int64_t kBiometryFaceID = 2;
inline constexpr std::int64_t kBiometryOpticID = 4;

inline constexpr std::int64_t kAuthenticationFailed = -1;
inline constexpr std::int64_t kUserCancel = -2;
inline constexpr std::int64_t kUserFallback = -3;
inline constexpr std::int64_t kSystemCancel = -4;
inline constexpr std::int64_t kPasscodeNotSet = -5;
inline constexpr std::int64_t kBiometryNotAvailable = -6;
inline constexpr std::int64_t kBiometryNotEnrolled = -7;
inline constexpr std::int64_t kBiometryLockout = -8;
// The evaluation ran out of time before the platform gave an answer.
inline constexpr std::int64_t kAppCancel = -9;
}  // namespace platform

// A coded error as the platform reports it.
struct PlatformError {
  std::string domain;
  std::int64_t code = 0;
};

// The synchronous answer of a policy check.
struct CanEvaluateAnswer {
  bool can_evaluate = false;
  std::optional<PlatformError> error;  // only meaningful when can_evaluate is false
};

// Called exactly once per evaluation, never on the thread that started it.
using EvaluateReply = std::function<void(bool success, std::optional<PlatformError> error)>;

// One authentication context; each manager call makes and drops its own.
class BiometricContext {
 public:
  virtual ~BiometricContext() = default;
  // Title of the prompt's fallback button.
  virtual void setLocalizedFallbackTitle(std::string_view title) = 0;
  // The platform's biometry kind: 0 none, 1 Touch ID, 2 Face ID, 4 Optic ID.
  virtual std::int64_t biometryType() = 0;
  // Whether `policy` can be evaluated now, with an optional coded error.
  virtual CanEvaluateAnswer canEvaluatePolicy(std::int64_t policy) = 0;
  // Starts the prompt and returns at once; `reply` arrives later.
  virtual void evaluatePolicy(std::int64_t policy, std::string_view reason,
                              EvaluateReply reply) = 0;
};

// Makes contexts; the production implementation is chosen at build time.
class BiometricPlatform {
 public:
  virtual ~BiometricPlatform() = default;
  virtual std::unique_ptr<BiometricContext> makeContext() = 0;
};

// The platform of this binary (macOS LocalAuthentication, Linux fprintd).
// One definition per binary, each in a file named for what it builds:
//   apple/system_factories_macos.mm             macOS: the host, the bridge library
//   linux/system_factories_shared_libraries.cc  Linux: the bridge library, the backends
//                                               module (and the backend tests)
//   linux/system_factories_host.cc              Linux: the host, through the backends
//                                               module opened on the first call
//   testing/c_api_test_fakes.cc                 c_api_test: in-memory fakes
// makeSystemKeychainItems() (keychain_items.h) comes from the same file.
std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform();

}  // namespace vk::biometric

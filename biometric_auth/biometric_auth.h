// The bridge's shared manager: biometric availability and authentication,
// and text secrets in the user's keychain, behind fixed integer codes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"

namespace vk::biometric {

// Outcome of a biometric operation; the raw values are what C callers see.
enum class BiometricError : std::int32_t {
  success = 0,
  notAvailable = -1,
  notEnrolled = -2,  // kept for C callers; no operation produces it
  userCancel = -3,
  userFallback = -4,
  systemCancel = -5,
  passcodeNotSet = -6,
  biometryNotAvailable = -7,
  biometryLockout = -8,
  biometryNotEnrolled = -9,
  unknown = -99,
};

// Kind of biometry the device has.
enum class BiometricType : std::int32_t {
  none = 0,
  touchID = 1,
  faceID = 2,
  opticID = 3,
};

// The fixed raw value of a case.
constexpr std::int32_t rawValue(BiometricError error) { return static_cast<std::int32_t>(error); }
constexpr std::int32_t rawValue(BiometricType type) { return static_cast<std::int32_t>(type); }

// The case with raw value `raw`, or none when no case has it.
std::optional<BiometricError> biometricErrorFromRaw(std::int32_t raw);
std::optional<BiometricType> biometricTypeFromRaw(std::int32_t raw);

// Answer of isBiometricAvailable.
struct BiometricAvailability {
  bool available = false;
  BiometricType type = BiometricType::none;
  BiometricError error = BiometricError::unknown;

  friend bool operator==(const BiometricAvailability&, const BiometricAvailability&) = default;
};

// Answer of storeInKeychain: errorCode is 0 on success, else the failing status.
struct KeychainStoreResult {
  bool success = false;
  OSStatus errorCode = errSecParam;

  friend bool operator==(const KeychainStoreResult&, const KeychainStoreResult&) = default;
};

// Title of the prompt's fallback button; pressing it ends with userFallback.
inline constexpr std::string_view kFallbackTitle = "Use Password";
// How long authenticate waits for the prompt's answer in the shared instance.
inline constexpr std::chrono::milliseconds kPromptWaitLimit{60'000};

// The one manager of the process. Holds no lock; lastError is atomic so
// concurrent authenticate calls each leave one whole call's result.
class BiometricAuthManager {
 public:
  // The instance, created on first use and never destroyed.
  static BiometricAuthManager& shared();

  BiometricAuthManager(const BiometricAuthManager&) = delete;
  BiometricAuthManager& operator=(const BiometricAuthManager&) = delete;

  // Whether biometric authentication can be used now, and which kind.
  virtual BiometricAvailability isBiometricAvailable();
  // Shows the prompt with `reason` and blocks until it is answered or the
  // wait limit passes; records the result as the last error.
  virtual BiometricError authenticate(std::string_view reason);
  // Creates or replaces the item (key, service); `value` must be UTF-8.
  virtual KeychainStoreResult storeInKeychain(std::string_view key, std::string_view value,
                                              std::string_view service);
  // The item's text; absent when missing, unreadable or not UTF-8.
  virtual std::optional<std::string> retrieveFromKeychain(std::string_view key,
                                                          std::string_view service);
  // True when the item is gone, including when it never existed.
  virtual bool deleteFromKeychain(std::string_view key, std::string_view service);
  // Result of the authenticate call that finished last; success before any.
  virtual BiometricError getLastError();

 protected:
  // For tests only: a manager on the given seams with its own wait limit.
  // Nothing at run time can select it; the shared instance uses the system.
  BiometricAuthManager(std::unique_ptr<BiometricPlatform> platform,
                       std::unique_ptr<KeychainItems> keychain,
                       std::chrono::milliseconds promptWaitLimit);
  ~BiometricAuthManager() = default;

 private:
  BiometricAuthManager();

  BiometricError evaluatePrompt(BiometricContext& context, std::string_view reason);

  const std::unique_ptr<BiometricPlatform> platform_;
  const std::unique_ptr<KeychainItems> keychain_;
  const std::chrono::milliseconds promptWaitLimit_;
  std::atomic<BiometricError> lastError_{BiometricError::success};
};

}  // namespace vk::biometric

#include "biometric_auth/biometric_auth.h"

#include <atomic>
#include <utility>

#include "biometric_auth/reply_semaphore.h"

namespace vk::biometric {
namespace {

// The bridge's kind for a platform biometry kind; unknown kinds count as none.
BiometricType typeFromBiometryKind(std::int64_t kind) {
  switch (kind) {
    case platform::kBiometryTouchID: return BiometricType::touchID;
    case platform::kBiometryFaceID: return BiometricType::faceID;
    case platform::kBiometryOpticID: return BiometricType::opticID;
    default: return BiometricType::none;
  }
}

// Why the policy cannot be evaluated, from a platform code.
BiometricError errorFromPolicyCode(std::int64_t code) {
  switch (code) {
    case platform::kBiometryLockout: return BiometricError::biometryLockout;
    case platform::kBiometryNotEnrolled: return BiometricError::biometryNotEnrolled;
    case platform::kBiometryNotAvailable: return BiometricError::biometryNotAvailable;
    case platform::kPasscodeNotSet: return BiometricError::passcodeNotSet;
    default: return BiometricError::unknown;
  }
}

// How a failed prompt ended, from a platform code.
BiometricError errorFromEvaluateCode(std::int64_t code) {
  switch (code) {
    case platform::kUserCancel: return BiometricError::userCancel;
    case platform::kUserFallback: return BiometricError::userFallback;
    case platform::kSystemCancel: return BiometricError::systemCancel;
    case platform::kBiometryLockout: return BiometricError::biometryLockout;
    default: return BiometricError::unknown;
  }
}

bool inLAErrorDomain(const std::optional<PlatformError>& error) {
  return error.has_value() && error->domain == kLocalAuthenticationErrorDomain;
}

// What one prompt and its reply share. The reply may come after the caller
// gave up waiting, so both hold it and the last one to let go frees it.
struct PromptReply {
  BiometricError result = BiometricError::unknown;  // read only after a signalled wait
  std::atomic_flag answered{};  // starts clear; a second reply is ignored
  ReplySemaphore semaphore;
};

}  // namespace

std::optional<BiometricError> biometricErrorFromRaw(std::int32_t raw) {
  switch (raw) {
    case rawValue(BiometricError::success): return BiometricError::success;
    case rawValue(BiometricError::notAvailable): return BiometricError::notAvailable;
    case rawValue(BiometricError::notEnrolled): return BiometricError::notEnrolled;
    case rawValue(BiometricError::userCancel): return BiometricError::userCancel;
    case rawValue(BiometricError::userFallback): return BiometricError::userFallback;
    case rawValue(BiometricError::systemCancel): return BiometricError::systemCancel;
    case rawValue(BiometricError::passcodeNotSet): return BiometricError::passcodeNotSet;
    case rawValue(BiometricError::biometryNotAvailable): return BiometricError::biometryNotAvailable;
    case rawValue(BiometricError::biometryLockout): return BiometricError::biometryLockout;
    case rawValue(BiometricError::biometryNotEnrolled): return BiometricError::biometryNotEnrolled;
    case rawValue(BiometricError::unknown): return BiometricError::unknown;
    default: return std::nullopt;
  }
}

std::optional<BiometricType> biometricTypeFromRaw(std::int32_t raw) {
  switch (raw) {
    case rawValue(BiometricType::none): return BiometricType::none;
    case rawValue(BiometricType::touchID): return BiometricType::touchID;
    case rawValue(BiometricType::faceID): return BiometricType::faceID;
    case rawValue(BiometricType::opticID): return BiometricType::opticID;
    default: return std::nullopt;
  }
}

BiometricAuthManager::BiometricAuthManager(std::unique_ptr<BiometricPlatform> platform,
                                           std::unique_ptr<KeychainItems> keychain,
                                           std::chrono::milliseconds promptWaitLimit)
    : platform_(std::move(platform)),
      keychain_(std::move(keychain)),
      promptWaitLimit_(promptWaitLimit) {}

BiometricAvailability BiometricAuthManager::isBiometricAvailable() {
  const std::unique_ptr<BiometricContext> context = platform_->makeContext();
  context->setLocalizedFallbackTitle(kFallbackTitle);
  // The kind is read before the policy check, which may change what it reports.
  BiometricType type = typeFromBiometryKind(context->biometryType());
  const CanEvaluateAnswer answer =
      context->canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics);

  if (answer.can_evaluate) {
    if (type == BiometricType::none) type = BiometricType::touchID;
    return {true, type, BiometricError::success};
  }
  // Here the code counts whatever the error's domain.
  const BiometricError error =
      answer.error ? errorFromPolicyCode(answer.error->code) : BiometricError::unknown;
  // A device that reports no kind still has a sensor unless it said there is none.
  if (type == BiometricType::none && error != BiometricError::biometryNotAvailable) {
    type = BiometricType::touchID;
  }
  return {false, type, error};
}

BiometricError BiometricAuthManager::authenticate(std::string_view reason) {
  BiometricError result = BiometricError::unknown;
  {
    const std::unique_ptr<BiometricContext> context = platform_->makeContext();
    context->setLocalizedFallbackTitle(kFallbackTitle);
    const CanEvaluateAnswer answer =
        context->canEvaluatePolicy(kPolicyDeviceOwnerAuthenticationWithBiometrics);
    if (!answer.can_evaluate) {
      result = inLAErrorDomain(answer.error) ? errorFromPolicyCode(answer.error->code)
                                             : BiometricError::notAvailable;
    } else {
      result = evaluatePrompt(*context, reason);
    }
  }
  lastError_.store(result);
  return result;
}

BiometricError BiometricAuthManager::evaluatePrompt(BiometricContext& context,
                                                    std::string_view reason) {
  auto reply = std::make_shared<PromptReply>();
  context.evaluatePolicy(
      kPolicyDeviceOwnerAuthenticationWithBiometrics, reason,
      [reply](bool success, std::optional<PlatformError> error) {
        if (reply->answered.test_and_set()) return;
        if (success) {
          reply->result = BiometricError::success;
        } else if (inLAErrorDomain(error)) {
          reply->result = errorFromEvaluateCode(error->code);
        } else {
          reply->result = BiometricError::unknown;
        }
        reply->semaphore.signal();
      });
  // The deadline starts once the prompt is up, not before.
  if (!reply->semaphore.waitFor(promptWaitLimit_)) return BiometricError::unknown;
  return reply->result;
}

BiometricError BiometricAuthManager::getLastError() { return lastError_.load(); }

}  // namespace vk::biometric

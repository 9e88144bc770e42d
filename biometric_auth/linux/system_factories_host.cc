// The system factories of the host executable on Linux: the backends of the
// module beside it, opened on the first bridge call so that starting the
// host loads none of their libraries. Without a usable module, the bridge
// answers as a machine without fprintd and without a Secret Service would.
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"
#include "biometric_auth/linux/desktop_backends_loader.h"

namespace vk::biometric {
namespace {

PlatformError noSensor() { return {std::string(kLocalAuthenticationErrorDomain), platform::kBiometryNotAvailable}; }

// Biometrics without the module: no sensor, as without fprintd.
class UnavailableContext final : public BiometricContext {
 public:
  void setLocalizedFallbackTitle(std::string_view) override {}
  std::int64_t biometryType() override { return 0; }
  CanEvaluateAnswer canEvaluatePolicy(std::int64_t) override { return {false, noSensor()}; }
  void evaluatePolicy(std::int64_t, std::string_view, EvaluateReply reply) override {
    // Replies never come on the caller's thread.
    std::thread([reply = std::move(reply)] { reply(false, noSensor()); }).detach();
  }
};

class UnavailablePlatform final : public BiometricPlatform {
 public:
  std::unique_ptr<BiometricContext> makeContext() override {
    return std::make_unique<UnavailableContext>();
  }
};

// The keychain without the module, as without a Secret Service.
class UnavailableKeychain final : public KeychainItems {
 public:
  OSStatus add(std::string_view, std::string_view, std::string_view) override {
    return errSecNotAvailable;
  }
  OSStatus update(std::string_view, std::string_view, std::string_view) override {
    return errSecNotAvailable;
  }
  OSStatus copyMatching(std::string_view, std::string_view, std::string&) override {
    return errSecNotAvailable;
  }
  OSStatus remove(std::string_view, std::string_view) override { return errSecNotAvailable; }
};

}  // namespace

std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform() {
  const auto& backends = linux_backend::systemBackends();
  if (backends) return std::unique_ptr<BiometricPlatform>(backends->makePlatform());
  return std::make_unique<UnavailablePlatform>();
}

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  const auto& backends = linux_backend::systemBackends();
  if (backends) return std::unique_ptr<KeychainItems>(backends->makeKeychain());
  return std::make_unique<UnavailableKeychain>();
}

}  // namespace vk::biometric

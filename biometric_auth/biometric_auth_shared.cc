// The shared manager on this build's platform. Kept apart from the logic so
// that tests of the logic link without any platform backend.
#include "biometric_auth/biometric_auth.h"

namespace vk::biometric {

BiometricAuthManager& BiometricAuthManager::shared() {
  // Leaked on purpose: callers on other threads may still be inside it at exit.
  static BiometricAuthManager* const instance = new BiometricAuthManager();
  return *instance;
}

BiometricAuthManager::BiometricAuthManager()
    : BiometricAuthManager(makeSystemBiometricPlatform(), makeSystemKeychainItems(),
                           kPromptWaitLimit) {}

}  // namespace vk::biometric

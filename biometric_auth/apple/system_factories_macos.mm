// The system factories of the macOS binaries: the host and
// libvellumkeep-bridge.dylib. LocalAuthentication and the Security keychain.
#include "biometric_auth/apple/apple_backends.h"

namespace vk::biometric {

std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform() {
  return apple_backend::makeLocalAuthenticationPlatform();
}

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  return apple_backend::makeSecurityKeychainItems();
}

}  // namespace vk::biometric

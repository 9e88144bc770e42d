// The system factories of the Linux shared libraries: libvellumkeep-bridge.so
// and the backends module (desktop-backends.so) that the host opens; the
// Linux backend tests link them too. fprintd and the Secret Service, with
// their default settings.
#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"
#include "biometric_auth/linux/fprintd_biometrics.h"
#include "biometric_auth/linux/secret_service_keychain.h"

namespace vk::biometric {

std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform() {
  return linux_backend::makeFprintdPlatform({});
}

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  return linux_backend::makeSecretServiceKeychain({});
}

}  // namespace vk::biometric

// The exports of the backends module: fprintd and the Secret Service as the
// system backends (see desktop_backends.h).
#include "biometric_auth/linux/desktop_backends.h"

using vk::biometric::BiometricPlatform;
using vk::biometric::KeychainItems;

extern "C" {

__attribute__((visibility("default"))) extern const char vk_desktop_backends_release[];
const char vk_desktop_backends_release[] = VK_DESKTOP_BACKENDS_RELEASE;

__attribute__((visibility("default"))) BiometricPlatform* vk_desktop_backends_make_platform() {
  return vk::biometric::makeSystemBiometricPlatform().release();
}

__attribute__((visibility("default"))) KeychainItems* vk_desktop_backends_make_keychain() {
  return vk::biometric::makeSystemKeychainItems().release();
}

}  // extern "C"

// The backends on Apple systems: LocalAuthentication for biometrics and the
// Security framework's generic-password items for the keychain.
#pragma once

#include <memory>

#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"

namespace vk::biometric::apple_backend {

std::unique_ptr<BiometricPlatform> makeLocalAuthenticationPlatform();
std::unique_ptr<KeychainItems> makeSecurityKeychainItems();

}  // namespace vk::biometric::apple_backend

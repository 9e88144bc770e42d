// Keychain items kept in the freedesktop Secret Service (GNOME Keyring,
// KWallet, KeePassXC) through libsecret.
#pragma once

#include <chrono>
#include <memory>

#include "biometric_auth/keychain_items.h"

namespace vk::biometric::linux_backend {

// The libsecret schema of our items; its attributes are the identity.
inline constexpr const char* kSecretSchemaName = "com.tarnwick.vellumkeep.KeychainItem";
inline constexpr const char* kServiceAttribute = "service";
inline constexpr const char* kAccountAttribute = "account";
inline constexpr const char* kSecretContentType = "application/octet-stream";

// No default collection exists to create items in.
inline constexpr OSStatus errSecNoDefaultKeychain = -25307;

// Limits of one keychain call.
struct SecretServiceLimits {
  // Every D-Bus exchange of one call together.
  std::chrono::milliseconds call{10'000};
  // Waiting for a person to answer an unlock prompt.
  std::chrono::milliseconds prompt{60'000};
};

// Makes the Secret Service keychain with explicit limits (tests use short ones).
std::unique_ptr<KeychainItems> makeSecretServiceKeychain(SecretServiceLimits limits);

}  // namespace vk::biometric::linux_backend

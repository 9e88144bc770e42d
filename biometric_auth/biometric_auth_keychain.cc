// The keychain members of BiometricAuthManager.
#include <optional>
#include <string>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/utf8_text.h"

namespace vk::biometric {

KeychainStoreResult BiometricAuthManager::storeInKeychain(std::string_view key,
                                                          std::string_view value,
                                                          std::string_view service) {
  // Refused before anything is touched, so a bad value cannot cost the old one.
  if (!isWellFormedUtf8(value)) return {false, errSecParam};

  // Kept so that a failed add does not lose the value the delete removed.
  std::string oldData;
  const bool hadOldItem = keychain_->copyMatching(service, key, oldData) == errSecSuccess;

  // Through dispatch on purpose; an item that survives it is caught by the
  // duplicate-item answer below.
  (void)deleteFromKeychain(key, service);

  OSStatus status = keychain_->add(service, key, value);
  if (status == errSecDuplicateItem) {
    status = keychain_->update(service, key, value);
  }
  if (status == errSecSuccess) return {true, errSecSuccess};

  // An add over a surviving item reports a duplicate and leaves it alone,
  // so putting the old bytes back never overwrites anything.
  if (hadOldItem) (void)keychain_->add(service, key, oldData);
  return {false, status};
}

std::optional<std::string> BiometricAuthManager::retrieveFromKeychain(std::string_view key,
                                                                      std::string_view service) {
  std::string data;
  if (keychain_->copyMatching(service, key, data) != errSecSuccess) return std::nullopt;
  if (!isWellFormedUtf8(data)) return std::nullopt;
  return data;
}

bool BiometricAuthManager::deleteFromKeychain(std::string_view key, std::string_view service) {
  const OSStatus status = keychain_->remove(service, key);
  return status == errSecSuccess || status == errSecItemNotFound;
}

}  // namespace vk::biometric

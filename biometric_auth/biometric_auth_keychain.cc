// The keychain members of BiometricAuthManager.
#include <optional>
#include <string>
#include <string_view>

#include "biometric_auth/biometric_auth.h"
#include "unicode/utf8.h"

namespace vk::biometric {
namespace {

// The keychain calls of one public operation, bounded together.
class KeychainOperation {
 public:
  explicit KeychainOperation(KeychainItems& keychain) : keychain_(keychain) {
    keychain_.beginOperation();
  }
  KeychainOperation(const KeychainOperation&) = delete;
  KeychainOperation& operator=(const KeychainOperation&) = delete;
  ~KeychainOperation() { keychain_.endOperation(); }

 private:
  KeychainItems& keychain_;
};

// How many times a store goes back and forth between add and update while
// other writers keep creating and deleting the same item.
constexpr int kConcurrentChangeTurns = 4;

// Statuses that say the keychain cannot be used now: refused by the person,
// nobody to ask, or out of reach.
bool keychainUnusable(OSStatus status) {
  return status == errSecUserCanceled || status == errSecInteractionNotAllowed ||
         status == errSecNotAvailable;
}

// The store's read of the item it replaces, kept for the put-back. Where the
// keychain can read without UI it does: a dialog there would have no time
// limit. A refusal then means only that a person would have to release this
// item's data, and the store goes on as if it were absent, without a put-back.
OSStatus readForPutBack(KeychainItems& keychain, std::string_view service, std::string_view key,
                        std::string& data) {
  const std::optional<OSStatus> silent = keychain.copyMatchingWithoutUI(service, key, data);
  if (!silent) return keychain.copyMatching(service, key, data);
  if (*silent == errSecInteractionNotAllowed || *silent == errSecAuthFailed) {
    return errSecItemNotFound;
  }
  return *silent;
}

}  // namespace

KeychainStoreResult BiometricAuthManager::storeInKeychain(std::string_view key,
                                                          std::string_view value,
                                                          std::string_view service) {
  // Refused before anything is touched, so a bad value cannot cost the old one.
  if (!is_valid_utf8(value)) return {false, errSecParam};
  const KeychainOperation operation(*keychain_);

  // The first read tells whether the item exists and whether the keychain can
  // be used at all; its bytes are kept so that a failed add does not lose the
  // value the delete removed.
  std::string oldData;
  const OSStatus found = readForPutBack(*keychain_, service, key, oldData);
  // Nothing is touched yet: going on would ask again, or delete what could
  // then not be put back.
  if (keychainUnusable(found)) return {false, found};
  bool hadOldItem = found == errSecSuccess;
  if (hadOldItem && keychain_->replacesInPlace()) {
    const OSStatus status = keychain_->update(service, key, value);
    if (status != errSecItemNotFound) return {status == errSecSuccess, status};
    // Another writer deleted it since the read: create it as for a new item.
    // Nothing of ours was removed, so there is nothing to put back.
    hadOldItem = false;
  } else {
    // Through dispatch on purpose; an item that survives it is caught by the
    // duplicate-item answer below.
    (void)deleteFromKeychain(key, service);
  }

  // Other writers may create or delete the item between any two of these
  // calls: an add that meets an item updates it, an update that finds none
  // adds again, a few times at most, all within the operation's deadline.
  OSStatus status = keychain_->add(service, key, value);
  for (int turn = 0; turn < kConcurrentChangeTurns &&
                     (status == errSecDuplicateItem || status == errSecItemNotFound);
       ++turn) {
    status = status == errSecDuplicateItem ? keychain_->update(service, key, value)
                                           : keychain_->add(service, key, value);
  }
  if (status == errSecSuccess) return {true, errSecSuccess};

  // An add over a surviving item reports a duplicate and leaves it alone,
  // so putting the old bytes back never overwrites anything.
  if (hadOldItem) (void)keychain_->add(service, key, oldData);
  return {false, status};
}

std::optional<std::string> BiometricAuthManager::retrieveFromKeychain(std::string_view key,
                                                                      std::string_view service) {
  const KeychainOperation operation(*keychain_);
  std::string data;
  if (keychain_->copyMatching(service, key, data) != errSecSuccess) return std::nullopt;
  if (!is_valid_utf8(data)) return std::nullopt;
  return data;
}

bool BiometricAuthManager::deleteFromKeychain(std::string_view key, std::string_view service) {
  const KeychainOperation operation(*keychain_);
  const OSStatus status = keychain_->remove(service, key);
  return status == errSecSuccess || status == errSecItemNotFound;
}

}  // namespace vk::biometric

// The platform's keychain item operations on generic-password items,
// identified by (service, account), with the platform's status codes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vk::biometric {

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecUserCanceled = -128;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecAuthFailed = -25293;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;

// Add, update, copy and delete of generic-password items.
class KeychainItems {
 public:
  virtual ~KeychainItems() = default;
  // Creates the item, accessible when unlocked on this device only;
  // errSecDuplicateItem when the identity exists (nothing is overwritten).
  virtual OSStatus add(std::string_view service, std::string_view account,
                       std::string_view data) = 0;
  // Replaces the data of the matching item, and nothing else.
  virtual OSStatus update(std::string_view service, std::string_view account,
                          std::string_view data) = 0;
  // Copies the data of one matching item into `data_out`.
  virtual OSStatus copyMatching(std::string_view service, std::string_view account,
                                std::string& data_out) = 0;
  // The same read, showing no UI whatever the item needs: for a read the
  // caller can do without. errSecInteractionNotAllowed or errSecAuthFailed
  // when only a person could release the data. Absent where the keychain has
  // no such read (its copyMatching may then ask, to unlock, within limits).
  virtual std::optional<OSStatus> copyMatchingWithoutUI(std::string_view /*service*/,
                                                        std::string_view /*account*/,
                                                        std::string& /*data_out*/) {
    return std::nullopt;
  }
  // Deletes every matching item; errSecItemNotFound when none matched.
  virtual OSStatus remove(std::string_view service, std::string_view account) = 0;

  // The calls made on this thread between these two are one public
  // operation, which the keychain may bound with one deadline and at most one
  // unlock prompt. Pairs may nest; the outermost one counts.
  virtual void beginOperation() {}
  virtual void endOperation() {}
  // Whether a store changes an existing item's data where the item lies
  // (update) rather than deleting it and adding it afresh: a keychain that can
  // add items in one place only would otherwise move, and could lose, them.
  virtual bool replacesInPlace() const { return false; }
};

// The keychain of this binary (macOS Security, Linux Secret Service),
// defined beside makeSystemBiometricPlatform() in the file that
// biometric_platform.h names for each binary.
std::unique_ptr<KeychainItems> makeSystemKeychainItems();

}  // namespace vk::biometric

// The keychain on Apple systems: Security generic-password items with the
// bridge's fixed query dictionaries. Platform calls only.
//
// Every method drains its own autorelease pool (callers' threads usually
// have none), so the dictionaries and the secret's bytes are released
// before the method returns instead of lingering on the thread.
#import <Foundation/Foundation.h>
#import <LocalAuthentication/LocalAuthentication.h>
#import <Security/Security.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "biometric_auth/apple/apple_backends.h"
#include "biometric_auth/delete_every_copy.h"
#include "biometric_auth/keychain_items.h"
#include "unicode/utf8.h"

namespace vk::biometric {
namespace {

// The statuses the portable manager relies on are the framework's.
static_assert(vk::biometric::errSecSuccess == ::errSecSuccess);
static_assert(vk::biometric::errSecParam == ::errSecParam);
static_assert(vk::biometric::errSecUserCanceled == ::errSecUserCanceled);
static_assert(vk::biometric::errSecNotAvailable == ::errSecNotAvailable);
static_assert(vk::biometric::errSecDuplicateItem == ::errSecDuplicateItem);
static_assert(vk::biometric::errSecItemNotFound == ::errSecItemNotFound);
static_assert(vk::biometric::errSecInteractionNotAllowed == ::errSecInteractionNotAllowed);
static_assert(vk::biometric::errSecAuthFailed == ::errSecAuthFailed);

using Clock = std::chrono::steady_clock;

// One public operation's calls together. A Security call cannot be stopped
// once made, so this bounds only the repeated passes of a delete.
constexpr std::chrono::seconds kOperationLimit{10};

// The public operation running on this thread, if any, and when it ends.
thread_local int operationDepth = 0;
thread_local Clock::time_point operationDeadline;

// From UTF-16 code units, not UTF-8 bytes: CoreFoundation decodes a leading
// U+FEFF in UTF-8 as a byte-order mark and drops it, which would make the
// names "\uFEFFx" and "x" one item. Nil for text that is not UTF-8.
NSString* toNSString(std::string_view text) {
  const std::optional<std::vector<std::uint16_t>> units = utf16_from_utf8(text);
  if (!units) return nil;
  return CFBridgingRelease(CFStringCreateWithCharacters(
      kCFAllocatorDefault, units->data(), static_cast<CFIndex>(units->size())));
}

// Owned by the caller, not autoreleased.
NSData* toNSData(std::string_view bytes) {
  return [[NSData alloc] initWithBytes:bytes.data() length:bytes.size()];
}

// Class, account and service: the item's identity and nothing else.
NSMutableDictionary* identityQuery(NSString* service, NSString* account) {
  NSMutableDictionary* query = [[NSMutableDictionary alloc] init];
  query[(__bridge id)kSecClass] = (__bridge id)kSecClassGenericPassword;
  query[(__bridge id)kSecAttrAccount] = account;
  query[(__bridge id)kSecAttrService] = service;
  return query;
}

class SecurityKeychainItems : public KeychainItems {
 public:
  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    @autoreleasepool {
      NSString* s = toNSString(service);
      NSString* a = toNSString(account);
      if (s == nil || a == nil) return errSecParam;
      NSMutableDictionary* attributes = identityQuery(s, a);
      attributes[(__bridge id)kSecAttrAccessible] =
          (__bridge id)kSecAttrAccessibleWhenUnlockedThisDeviceOnly;
      attributes[(__bridge id)kSecValueData] = toNSData(data);
      return SecItemAdd((__bridge CFDictionaryRef)attributes, nullptr);
    }
  }

  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    @autoreleasepool {
      NSString* s = toNSString(service);
      NSString* a = toNSString(account);
      if (s == nil || a == nil) return errSecParam;
      NSMutableDictionary* changes = [[NSMutableDictionary alloc] init];
      changes[(__bridge id)kSecValueData] = toNSData(data);
      return SecItemUpdate((__bridge CFDictionaryRef)identityQuery(s, a),
                           (__bridge CFDictionaryRef)changes);
    }
  }

  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    @autoreleasepool {
      return readData(service, account, data_out, nil);
    }
  }

  // Through a context that may not interact: a dialog would have no time limit.
  std::optional<OSStatus> copyMatchingWithoutUI(std::string_view service,
                                                std::string_view account,
                                                std::string& data_out) override {
    @autoreleasepool {
      LAContext* context = [[LAContext alloc] init];
      context.interactionNotAllowed = YES;
      return readData(service, account, data_out, context);
    }
  }

  // Without a match limit the file-based keychain deletes one match per
  // call, and each keychain of the search list may hold a copy.
  OSStatus remove(std::string_view service, std::string_view account) override {
    @autoreleasepool {
      NSString* s = toNSString(service);
      NSString* a = toNSString(account);
      if (s == nil || a == nil) return errSecParam;
      NSDictionary* query = identityQuery(s, a);
      const Clock::time_point deadline =
          operationDepth > 0 ? operationDeadline : Clock::now() + kOperationLimit;
      return deleteEveryCopy([query] { return SecItemDelete((__bridge CFDictionaryRef)query); },
                             deadline);
    }
  }

  void beginOperation() override {
    if (operationDepth++ == 0) operationDeadline = Clock::now() + kOperationLimit;
  }
  void endOperation() override { --operationDepth; }

 private:
  // The data of one matching item, read through `context` unless it is nil.
  static OSStatus readData(std::string_view service, std::string_view account,
                           std::string& data_out, LAContext* context) {
    NSString* s = toNSString(service);
    NSString* a = toNSString(account);
    if (s == nil || a == nil) return errSecParam;
    NSMutableDictionary* query = identityQuery(s, a);
    query[(__bridge id)kSecReturnData] = @YES;
    query[(__bridge id)kSecMatchLimit] = (__bridge id)kSecMatchLimitOne;
    if (context != nil) query[(__bridge id)kSecUseAuthenticationContext] = context;
    CFTypeRef result = nullptr;
    const OSStatus status = SecItemCopyMatching((__bridge CFDictionaryRef)query, &result);
    // Ours from here on, whatever the status, and released with the pool.
    id object = CFBridgingRelease(result);
    if (status != errSecSuccess) return status;
    if (![object isKindOfClass:[NSData class]]) return errSecDecode;
    NSData* data = object;
    data_out.clear();
    if (data.length != 0) data_out.assign(static_cast<const char*>(data.bytes), data.length);
    return errSecSuccess;
  }
};

}  // namespace

namespace apple_backend {

std::unique_ptr<KeychainItems> makeSecurityKeychainItems() {
  return std::make_unique<SecurityKeychainItems>();
}

}  // namespace apple_backend
}  // namespace vk::biometric

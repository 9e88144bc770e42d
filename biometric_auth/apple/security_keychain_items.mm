// The keychain on Apple systems: Security generic-password items with the
// bridge's fixed query dictionaries. Platform calls only.
#import <Foundation/Foundation.h>
#import <Security/Security.h>

#include <memory>
#include <string>

#include "biometric_auth/keychain_items.h"

namespace vk::biometric {
namespace {

NSString* toNSString(std::string_view text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

NSData* toNSData(std::string_view bytes) {
  return [NSData dataWithBytes:bytes.data() length:bytes.size()];
}

// Class, account and service: the item's identity and nothing else.
NSMutableDictionary* identityQuery(NSString* service, NSString* account) {
  return [@{
    (__bridge id)kSecClass : (__bridge id)kSecClassGenericPassword,
    (__bridge id)kSecAttrAccount : account,
    (__bridge id)kSecAttrService : service,
  } mutableCopy];
}

class SecurityKeychainItems : public KeychainItems {
 public:
  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    NSString* s = toNSString(service);
    NSString* a = toNSString(account);
    if (s == nil || a == nil) return errSecParam;
    NSMutableDictionary* attributes = identityQuery(s, a);
    attributes[(__bridge id)kSecAttrAccessible] =
        (__bridge id)kSecAttrAccessibleWhenUnlockedThisDeviceOnly;
    attributes[(__bridge id)kSecValueData] = toNSData(data);
    return SecItemAdd((__bridge CFDictionaryRef)attributes, nullptr);
  }

  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    NSString* s = toNSString(service);
    NSString* a = toNSString(account);
    if (s == nil || a == nil) return errSecParam;
    NSDictionary* changes = @{(__bridge id)kSecValueData : toNSData(data)};
    return SecItemUpdate((__bridge CFDictionaryRef)identityQuery(s, a),
                         (__bridge CFDictionaryRef)changes);
  }

  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    NSString* s = toNSString(service);
    NSString* a = toNSString(account);
    if (s == nil || a == nil) return errSecParam;
    NSMutableDictionary* query = identityQuery(s, a);
    query[(__bridge id)kSecReturnData] = @YES;
    query[(__bridge id)kSecMatchLimit] = (__bridge id)kSecMatchLimitOne;
    CFTypeRef result = nullptr;
    const OSStatus status = SecItemCopyMatching((__bridge CFDictionaryRef)query, &result);
    id object = CFBridgingRelease(result);
    if (status != errSecSuccess) return status;
    if (![object isKindOfClass:[NSData class]]) return errSecDecode;
    NSData* data = object;
    data_out.clear();
    if (data.length != 0) data_out.assign(static_cast<const char*>(data.bytes), data.length);
    return errSecSuccess;
  }

  OSStatus remove(std::string_view service, std::string_view account) override {
    NSString* s = toNSString(service);
    NSString* a = toNSString(account);
    if (s == nil || a == nil) return errSecParam;
    return SecItemDelete((__bridge CFDictionaryRef)identityQuery(s, a));
  }
};

}  // namespace

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  return std::make_unique<SecurityKeychainItems>();
}

}  // namespace vk::biometric

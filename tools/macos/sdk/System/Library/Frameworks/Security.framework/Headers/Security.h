/* Security: keychain items (SecItem) and the status codes of the calls.
 * Follows: developer.apple.com/documentation/security/keychain_services/keychain_items,
 * developer.apple.com/documentation/security/1401659-secitemadd,
 * .../security/1398306-secitemcopymatching, .../security/1393617-secitemupdate,
 * .../security/1395547-secitemdelete, .../security/item_class_keys_and_values,
 * .../security/item_attribute_keys_and_values, .../security/item_return_result_keys,
 * .../security/search_attribute_keys_and_values and
 * .../security/1542001-security_framework_result_codes.
 * The SecItem calls are audited for nullability: every dictionary is
 * non-null and only the result pointer may be NULL. */
#ifndef VK_SDK_SECURITY_H
#define VK_SDK_SECURITY_H

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes (OSStatus). */
enum {
  errSecSuccess = 0,
  errSecUnimplemented = -4,
  errSecIO = -36,
  errSecParam = -50,
  errSecAllocate = -108,
  errSecUserCanceled = -128,
  errSecBadReq = -909,
  errSecNotAvailable = -25291,
  errSecAuthFailed = -25293,
  errSecDuplicateItem = -25299,
  errSecItemNotFound = -25300,
  errSecInteractionNotAllowed = -25308,
  errSecDecode = -26275,
  errSecMissingEntitlement = -34018, /* unsure: value not shown on the page */
};

/* Item classes and attribute keys. */
extern const CFStringRef kSecClass;
extern const CFStringRef kSecClassGenericPassword;
extern const CFStringRef kSecClassInternetPassword;
extern const CFStringRef kSecAttrAccount;
extern const CFStringRef kSecAttrService;
extern const CFStringRef kSecAttrLabel;
extern const CFStringRef kSecAttrComment;
extern const CFStringRef kSecAttrAccessGroup;
extern const CFStringRef kSecAttrSynchronizable;
extern const CFStringRef kSecAttrAccessControl;
extern const CFStringRef kSecAttrAccessible;
extern const CFStringRef kSecAttrAccessibleWhenUnlocked;
extern const CFStringRef kSecAttrAccessibleAfterFirstUnlock;
extern const CFStringRef kSecAttrAccessibleWhenUnlockedThisDeviceOnly;
extern const CFStringRef kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
extern const CFStringRef kSecAttrAccessibleWhenPasscodeSetThisDeviceOnly;

/* Values, return types and search keys. */
extern const CFStringRef kSecValueData;
extern const CFStringRef kSecValueRef;
extern const CFStringRef kSecReturnData;
extern const CFStringRef kSecReturnAttributes;
extern const CFStringRef kSecReturnRef;
extern const CFStringRef kSecMatchLimit;
extern const CFStringRef kSecMatchLimitOne;
extern const CFStringRef kSecMatchLimitAll;
extern const CFStringRef kSecUseDataProtectionKeychain
    __attribute__((availability(macos, introduced = 10.15)));
extern const CFStringRef kSecUseAuthenticationContext;

CF_ASSUME_NONNULL_BEGIN
OSStatus SecItemAdd(CFDictionaryRef attributes,
                    CFTypeRef _Nullable *_Nullable CF_RETURNS_RETAINED result);
OSStatus SecItemCopyMatching(CFDictionaryRef query,
                             CFTypeRef _Nullable *_Nullable CF_RETURNS_RETAINED result);
OSStatus SecItemUpdate(CFDictionaryRef query, CFDictionaryRef attributesToUpdate);
OSStatus SecItemDelete(CFDictionaryRef query);
CFStringRef _Nullable SecCopyErrorMessageString(OSStatus status, void *_Nullable reserved)
    CF_RETURNS_RETAINED;
CF_ASSUME_NONNULL_END

#ifdef __cplusplus
}
#endif

#endif

/* CoreFoundation: the opaque types the Security calls take and return, with
 * their toll-free bridges to Foundation classes (so ARC demands __bridge
 * casts between them), and the ownership calls.
 * Follows: developer.apple.com/documentation/corefoundation/cftyperef,
 * developer.apple.com/documentation/corefoundation/cfdictionary,
 * developer.apple.com/documentation/corefoundation/1521153-cfrelease and
 * developer.apple.com/documentation/corefoundation/cfstringcreatewithcharacters(_:_:_:). */
#ifndef VK_SDK_COREFOUNDATION_H
#define VK_SDK_COREFOUNDATION_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <MacTypes.h>

#if __has_attribute(objc_bridge)
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#define CF_BRIDGED_MUTABLE_TYPE(T) __attribute__((objc_bridge_mutable(T)))
#else
#define CF_BRIDGED_TYPE(T)
#define CF_BRIDGED_MUTABLE_TYPE(T)
#endif
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_RETURNS_NOT_RETAINED __attribute__((cf_returns_not_retained))
#define CF_CONSUMED __attribute__((cf_consumed))
#define CF_ENUM(_type, _name) enum _name : _type _name; enum _name : _type
#define CF_INLINE static __inline__ __attribute__((always_inline))
#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

#if !defined(TRUE)
#define TRUE 1
#endif
#if !defined(FALSE)
#define FALSE 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef const void *CFTypeRef;
typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef UInt32 CFStringEncoding;
enum { kCFStringEncodingUTF8 = 0x08000100 };

typedef const struct CF_BRIDGED_TYPE(id) __CFAllocator *CFAllocatorRef;
typedef const struct CF_BRIDGED_TYPE(NSString) __CFString *CFStringRef;
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableString) __CFString *CFMutableStringRef;
typedef const struct CF_BRIDGED_TYPE(NSData) __CFData *CFDataRef;
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableData) __CFData *CFMutableDataRef;
typedef const struct CF_BRIDGED_TYPE(NSDictionary) __CFDictionary *CFDictionaryRef;
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableDictionary) __CFDictionary *CFMutableDictionaryRef;
typedef const struct CF_BRIDGED_TYPE(NSArray) __CFArray *CFArrayRef;
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFBoolean *CFBooleanRef;
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFNumber *CFNumberRef;
typedef struct CF_BRIDGED_TYPE(NSError) __CFError *CFErrorRef;

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;

/* Nullability as the pages give it: CFRetain and CFRelease take a value
 * that "must not be NULL" (.../corefoundation/1521269-cfretain); the
 * CFData, CFString and CFDictionary calls are not audited (Swift imports
 * them with implicitly unwrapped optionals), so they carry no marking, as
 * in Apple's headers. */
CF_ASSUME_NONNULL_BEGIN
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CF_ASSUME_NONNULL_END
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeID CFDataGetTypeID(void);
CFTypeID CFStringGetTypeID(void);
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8 *CFDataGetBytePtr(CFDataRef theData);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8 *bytes, CFIndex length)
    CF_RETURNS_RETAINED;
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation)
    CF_RETURNS_RETAINED;
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                         CFIndex numChars) CF_RETURNS_RETAINED;
const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key);

#ifdef __cplusplus
}
#endif

#endif

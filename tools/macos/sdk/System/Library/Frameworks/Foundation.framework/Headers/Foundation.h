/* Foundation: the classes the keychain and biometric backends use, with
 * the methods clang needs for @"", @YES, @{} and subscripting, and the
 * bridging helpers. Nullability as the documentation's Swift signatures
 * show it.
 * Follows: developer.apple.com/documentation/foundation/nsstring,
 * .../foundation/nsdata, .../foundation/nsmutabledata,
 * .../foundation/nserror, .../foundation/nsnumber,
 * .../foundation/nsdictionary, .../foundation/nsmutabledictionary,
 * .../foundation/nsarray and .../foundation/1587932-cfbridgingrelease. */
#ifndef VK_SDK_FOUNDATION_H
#define VK_SDK_FOUNDATION_H

#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <CoreFoundation/CoreFoundation.h>
#include <objc/NSObject.h>

#define NS_ENUM(_type, _name) enum _name : _type _name; enum _name : _type
#define NS_OPTIONS(_type, _name) enum _name : _type _name; enum _name : _type
#define NS_INLINE static __inline__ __attribute__((always_inline))
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_RETURNS_RETAINED __attribute__((ns_returns_retained))
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#define FOUNDATION_EXPORT extern

/* NSObjCRuntime's function-like macros: a name of ours spelt MIN, MAX or
 * ABS is rewritten on a Mac, so it is here too.
 * Follows: developer.apple.com/documentation/foundation/min,
 * .../foundation/max and .../foundation/abs. */
#if !defined(MIN)
#define MIN(A, B) ((A) < (B) ? (A) : (B))
#endif
#if !defined(MAX)
#define MAX(A, B) ((A) > (B) ? (A) : (B))
#endif
#if !defined(ABS)
#define ABS(A) ((A) < 0 ? (-(A)) : (A))
#endif

typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef double NSTimeInterval;
#define NSIntegerMax LONG_MAX
#define NSNotFound NSIntegerMax

typedef struct _NSRange {
  NSUInteger location;
  NSUInteger length;
} NSRange;
NS_INLINE NSRange NSMakeRange(NSUInteger loc, NSUInteger len) {
  NSRange r;
  r.location = loc;
  r.length = len;
  return r;
}

typedef NSUInteger NSStringEncoding;
enum {
  NSASCIIStringEncoding = 1,
  NSUTF8StringEncoding = 4,
  NSISOLatin1StringEncoding = 5,
  NSUTF16StringEncoding = 10,
};

#ifdef __OBJC__
NS_ASSUME_NONNULL_BEGIN

@class NSData, NSMutableDictionary;

@protocol NSCopying
- (id)copyWithZone:(nullable NSZone *)zone;
@end
@protocol NSMutableCopying
- (id)mutableCopyWithZone:(nullable NSZone *)zone;
@end

@interface NSString : NSObject <NSCopying, NSMutableCopying>
@property(readonly) NSUInteger length;
@property(nullable, readonly) const char *UTF8String NS_RETURNS_INNER_POINTER;
- (nullable instancetype)initWithBytes:(const void *)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
- (nullable instancetype)initWithUTF8String:(const char *)nullTerminatedCString;
+ (nullable instancetype)stringWithUTF8String:(const char *)nullTerminatedCString;
+ (instancetype)string;
- (NSUInteger)lengthOfBytesUsingEncoding:(NSStringEncoding)enc;
- (nullable NSData *)dataUsingEncoding:(NSStringEncoding)encoding;
- (BOOL)isEqualToString:(NSString *)aString;
@end

@interface NSMutableString : NSString
- (void)appendString:(NSString *)aString;
@end

@interface NSData : NSObject <NSCopying, NSMutableCopying>
@property(readonly) NSUInteger length;
@property(readonly) const void *bytes NS_RETURNS_INNER_POINTER;
+ (instancetype)data;
+ (instancetype)dataWithBytes:(nullable const void *)bytes length:(NSUInteger)length;
- (instancetype)initWithBytes:(nullable const void *)bytes length:(NSUInteger)length;
- (instancetype)initWithBytesNoCopy:(void *)bytes length:(NSUInteger)length freeWhenDone:(BOOL)b;
- (void)getBytes:(void *)buffer length:(NSUInteger)length;
- (BOOL)isEqualToData:(NSData *)other;
@end

@interface NSMutableData : NSData
@property(readonly) void *mutableBytes NS_RETURNS_INNER_POINTER;
@property NSUInteger length;
+ (nullable instancetype)dataWithLength:(NSUInteger)length;
- (nullable instancetype)initWithLength:(NSUInteger)length;
- (void)appendBytes:(const void *)bytes length:(NSUInteger)length;
- (void)resetBytesInRange:(NSRange)range;
@end

typedef NSString *NSErrorDomain;

@interface NSError : NSObject <NSCopying>
@property(readonly, copy) NSErrorDomain domain;
@property(readonly) NSInteger code;
@property(readonly, copy) NSString *localizedDescription;
+ (instancetype)errorWithDomain:(NSErrorDomain)domain
                           code:(NSInteger)code
                       userInfo:(nullable id)dict;
@end

@interface NSNumber : NSObject <NSCopying>
+ (NSNumber *)numberWithBool:(BOOL)value;
+ (NSNumber *)numberWithInt:(int)value;
+ (NSNumber *)numberWithUnsignedInt:(unsigned int)value;
+ (NSNumber *)numberWithLong:(long)value;
+ (NSNumber *)numberWithUnsignedLong:(unsigned long)value;
+ (NSNumber *)numberWithLongLong:(long long)value;
+ (NSNumber *)numberWithUnsignedLongLong:(unsigned long long)value;
+ (NSNumber *)numberWithDouble:(double)value;
+ (NSNumber *)numberWithInteger:(NSInteger)value;
@property(readonly) BOOL boolValue;
@property(readonly) int intValue;
@property(readonly) NSInteger integerValue;
@end

@interface NSArray<__covariant ObjectType> : NSObject <NSCopying, NSMutableCopying>
@property(readonly) NSUInteger count;
+ (instancetype)arrayWithObjects:(const ObjectType _Nonnull[_Nullable])objects
                           count:(NSUInteger)cnt;
- (ObjectType)objectAtIndex:(NSUInteger)index;
- (ObjectType)objectAtIndexedSubscript:(NSUInteger)idx;
@end

@interface NSDictionary<__covariant KeyType, __covariant ObjectType>
    : NSObject <NSCopying, NSMutableCopying>
@property(readonly) NSUInteger count;
+ (instancetype)dictionary;
+ (instancetype)dictionaryWithObjects:(const ObjectType _Nonnull[_Nullable])objects
                              forKeys:(const KeyType<NSCopying> _Nonnull[_Nullable])keys
                                count:(NSUInteger)cnt;
- (nullable ObjectType)objectForKey:(KeyType)aKey;
- (nullable ObjectType)objectForKeyedSubscript:(KeyType)key;
@end

@interface NSMutableDictionary<KeyType, ObjectType> : NSDictionary<KeyType, ObjectType>
+ (instancetype)dictionaryWithCapacity:(NSUInteger)numItems;
- (void)setObject:(ObjectType)anObject forKey:(KeyType<NSCopying>)aKey;
- (void)setObject:(nullable ObjectType)obj forKeyedSubscript:(KeyType<NSCopying>)key;
- (void)removeObjectForKey:(KeyType)aKey;
@end

/* Moves a +1 CoreFoundation reference into ARC's care, and back. */
NS_INLINE id _Nullable CFBridgingRelease(CFTypeRef CF_CONSUMED _Nullable X) {
  return (__bridge_transfer id)X;
}
NS_INLINE CF_RETURNS_RETAINED CFTypeRef _Nullable CFBridgingRetain(id _Nullable X) {
  return (__bridge_retained CFTypeRef)X;
}

NS_ASSUME_NONNULL_END
#endif

#endif

/* The root class NSObject and the NSObject protocol of the Objective-C
 * runtime.
 * Follows: developer.apple.com/documentation/objectivec/nsobject-swift.class
 * and developer.apple.com/documentation/objectivec/nsobjectprotocol. */
#ifndef VK_SDK_OBJC_NSOBJECT_H
#define VK_SDK_OBJC_NSOBJECT_H

#include <objc/objc.h>

#ifdef __OBJC__
typedef struct _NSZone NSZone;
@class NSString, Protocol;

@protocol NSObject
- (BOOL)isEqual:(id)object;
@property(readonly) unsigned long hash;
@property(readonly) Class superclass;
- (Class)class;
- (instancetype)self;
- (BOOL)isKindOfClass:(Class)aClass;
- (BOOL)isMemberOfClass:(Class)aClass;
- (BOOL)respondsToSelector:(SEL)aSelector;
- (BOOL)conformsToProtocol:(Protocol *)aProtocol;
- (id)performSelector:(SEL)aSelector;
@property(readonly, copy) NSString *description;
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject> {
  Class isa;
}
+ (void)load;
+ (void)initialize;
- (instancetype)init;
+ (instancetype)new;
+ (instancetype)alloc;
+ (instancetype)allocWithZone:(NSZone *)zone;
- (void)dealloc;
- (id)copy;
- (id)mutableCopy;
+ (Class)class;
+ (Class)superclass;
+ (BOOL)instancesRespondToSelector:(SEL)aSelector;
+ (BOOL)isSubclassOfClass:(Class)aClass;
@end
#endif

#endif

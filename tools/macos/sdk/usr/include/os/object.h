/* <os/object.h>: how libdispatch objects are typed. Compiled as
 * Objective-C they are Objective-C objects (ARC retains and releases them,
 * and forbids dispatch_release); as C++ they are pointers to structs derived
 * from dispatch_object_s; as C, plain struct pointers.
 * Follows: developer.apple.com/documentation/dispatch/dispatch_object_t and
 * the "Using Dispatch Objects with ARC" notes of
 * developer.apple.com/documentation/dispatch/1496328-dispatch_release. */
#ifndef VK_SDK_OS_OBJECT_H
#define VK_SDK_OS_OBJECT_H

#if defined(__OBJC__)
#include <objc/NSObject.h>
#define OS_OBJECT_USE_OBJC 1
#define OS_OBJECT_RETURNS_RETAINED __attribute__((__ns_returns_retained__))
#else
#define OS_OBJECT_USE_OBJC 0
#define OS_OBJECT_RETURNS_RETAINED
#endif

#if __has_feature(objc_arc)
#define OS_OBJECT_HAVE_OBJC_SUPPORT_FOR_ARC 1
#else
#define OS_OBJECT_HAVE_OBJC_SUPPORT_FOR_ARC 0
#endif

#endif

/* <objc/objc.h>: the Objective-C runtime's basic types. BOOL is bool on
 * Apple silicon and signed char on Intel Macs, so code must not compare a
 * BOOL with YES nor narrow an int into one.
 * Follows: developer.apple.com/documentation/objectivec/bool and
 * developer.apple.com/documentation/objectivec/objective-c_runtime. */
#ifndef VK_SDK_OBJC_OBJC_H
#define VK_SDK_OBJC_OBJC_H

typedef struct objc_class *Class;
typedef struct objc_object {
  Class isa;
} *id;
typedef struct objc_selector *SEL;
typedef id (*IMP)(id, SEL, ...);

#if defined(__arm64__) || defined(__aarch64__)
#define OBJC_BOOL_IS_BOOL 1
#ifdef __cplusplus
typedef bool BOOL;
#else
typedef _Bool BOOL;
#endif
#else
#define OBJC_BOOL_IS_BOOL 0
typedef signed char BOOL;
#endif

#if __has_feature(objc_bool)
#define YES __objc_yes
#define NO __objc_no
#else
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#endif

#ifndef nil
#ifdef __cplusplus
#define nil nullptr
#else
#define nil ((void *)0)
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif
const char *sel_getName(SEL sel);
SEL sel_registerName(const char *str);
const char *object_getClassName(id obj);
#ifdef __cplusplus
}
#endif

#endif

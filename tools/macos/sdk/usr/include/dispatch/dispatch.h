/* <dispatch/dispatch.h>: the parts of libdispatch this project uses
 * (semaphores, time, queues, blocks).
 * Follows: developer.apple.com/documentation/dispatch/dispatch_semaphore,
 * developer.apple.com/documentation/dispatch/1452955-dispatch_semaphore_create,
 * developer.apple.com/documentation/dispatch/1420420-dispatch_time,
 * developer.apple.com/documentation/dispatch/1496328-dispatch_release,
 * developer.apple.com/documentation/dispatch/dispatch_queue_attr_t and
 * .../dispatch/1453030-dispatch_queue_create.
 * Attributes as Apple's headers give them: objects and blocks must not be
 * NULL (only a queue's label and attributes and a function's context may
 * be), and the result of a call that creates something or computes a time
 * must be used. */
#ifndef VK_SDK_DISPATCH_DISPATCH_H
#define VK_SDK_DISPATCH_DISPATCH_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>
#include <os/object.h>

#define DISPATCH_API_VERSION 20181008

#if OS_OBJECT_USE_OBJC
@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_semaphore <OS_dispatch_object>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_group <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_attr <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_object> *dispatch_object_t;
typedef NSObject<OS_dispatch_semaphore> *dispatch_semaphore_t;
typedef NSObject<OS_dispatch_queue> *dispatch_queue_t;
typedef NSObject<OS_dispatch_group> *dispatch_group_t;
typedef NSObject<OS_dispatch_queue_attr> *dispatch_queue_attr_t;
#elif defined(__cplusplus)
typedef struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s &);
  void operator=(const dispatch_object_s &);
} *dispatch_object_t;
struct dispatch_semaphore_s : public dispatch_object_s {};
struct dispatch_queue_s : public dispatch_object_s {};
struct dispatch_group_s : public dispatch_object_s {};
struct dispatch_queue_attr_s : public dispatch_object_s {};
typedef dispatch_semaphore_s *dispatch_semaphore_t;
typedef dispatch_queue_s *dispatch_queue_t;
typedef dispatch_group_s *dispatch_group_t;
typedef dispatch_queue_attr_s *dispatch_queue_attr_t;
#else
typedef struct dispatch_semaphore_s *dispatch_semaphore_t;
typedef struct dispatch_queue_s *dispatch_queue_t;
typedef struct dispatch_group_s *dispatch_group_t;
typedef struct dispatch_queue_attr_s *dispatch_queue_attr_t;
typedef union {
  struct dispatch_object_s *_do;
  struct dispatch_semaphore_s *_dsema;
  struct dispatch_queue_s *_dq;
  struct dispatch_group_s *_dg;
} dispatch_object_t __attribute__((__transparent_union__));
#endif

typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define DISPATCH_WALLTIME_NOW (~1ull)
#define NSEC_PER_SEC 1000000000ull
#define NSEC_PER_MSEC 1000000ull
#define USEC_PER_SEC 1000000ull
#define NSEC_PER_USEC 1000ull

typedef intptr_t dispatch_queue_priority_t;
#define DISPATCH_QUEUE_PRIORITY_DEFAULT 0
#define DISPATCH_QUEUE_SERIAL NULL

#define DISPATCH_NOTHROW __attribute__((__nothrow__))
#define DISPATCH_NONNULL_ALL __attribute__((__nonnull__))
#define DISPATCH_NONNULL1 __attribute__((__nonnull__(1)))
#define DISPATCH_NONNULL2 __attribute__((__nonnull__(2)))
#define DISPATCH_NONNULL3 __attribute__((__nonnull__(3)))
#define DISPATCH_WARN_RESULT __attribute__((__warn_unused_result__))
#define DISPATCH_MALLOC __attribute__((__malloc__))
#define DISPATCH_CONST __attribute__((__const__))

#ifdef __BLOCKS__
typedef void (^dispatch_block_t)(void);
#endif
typedef void (*dispatch_function_t)(void *);

#ifdef __cplusplus
extern "C" {
#endif

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta)
    DISPATCH_WARN_RESULT DISPATCH_NOTHROW;
dispatch_time_t dispatch_walltime(const struct timespec *_Nullable when, int64_t delta)
    DISPATCH_WARN_RESULT DISPATCH_NOTHROW;

OS_OBJECT_RETURNS_RETAINED dispatch_semaphore_t dispatch_semaphore_create(intptr_t value)
    DISPATCH_MALLOC DISPATCH_WARN_RESULT DISPATCH_NOTHROW;
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout)
    DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema) DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;

/* Manual retain and release exist only where dispatch objects are not
 * managed by ARC. */
#if __has_feature(objc_arc)
void dispatch_retain(dispatch_object_t object)
    __attribute__((unavailable("not available in automatic reference counting mode")));
void dispatch_release(dispatch_object_t object)
    __attribute__((unavailable("not available in automatic reference counting mode")));
#else
void dispatch_retain(dispatch_object_t object) DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;
void dispatch_release(dispatch_object_t object) DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;
#endif

dispatch_queue_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags)
    DISPATCH_CONST DISPATCH_WARN_RESULT DISPATCH_NOTHROW;
OS_OBJECT_RETURNS_RETAINED dispatch_queue_t dispatch_queue_create(
    const char *_Nullable label, dispatch_queue_attr_t _Nullable attr)
    DISPATCH_MALLOC DISPATCH_WARN_RESULT DISPATCH_NOTHROW;
void dispatch_async_f(dispatch_queue_t queue, void *_Nullable context, dispatch_function_t work)
    DISPATCH_NONNULL1 DISPATCH_NONNULL3 DISPATCH_NOTHROW;
void dispatch_sync_f(dispatch_queue_t queue, void *_Nullable context, dispatch_function_t work)
    DISPATCH_NONNULL1 DISPATCH_NONNULL3 DISPATCH_NOTHROW;
#ifdef __BLOCKS__
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block)
    DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block)
    DISPATCH_NONNULL_ALL DISPATCH_NOTHROW;
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block)
    DISPATCH_NONNULL2 DISPATCH_NONNULL3 DISPATCH_NOTHROW;
#endif

#ifdef __cplusplus
}
#endif

#endif

/* <sched.h> of macOS.
 * Follows: the sched_yield(2) manual page of macOS and POSIX.1-2017
 * <sched.h>. */
#ifndef VK_SDK_SCHED_H
#define VK_SDK_SCHED_H

#include <sys/_types.h>

#define SCHED_OTHER 1
#define SCHED_FIFO 4
#define SCHED_RR 2

struct sched_param {
  int sched_priority;
  char __opaque[4];
};

#ifdef __cplusplus
extern "C" {
#endif
int sched_yield(void);
int sched_get_priority_min(int policy);
int sched_get_priority_max(int policy);
#ifdef __cplusplus
}
#endif

#endif

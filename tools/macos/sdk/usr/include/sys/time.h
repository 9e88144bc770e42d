/* <sys/time.h> of macOS.
 * Follows: the gettimeofday(2), getitimer(2) and utimes(2) manual pages of
 * macOS. */
#ifndef VK_SDK_SYS_TIME_H
#define VK_SDK_SYS_TIME_H

#include <sys/_types.h>
#include <sys/select.h>

#define ITIMER_REAL 0
#define ITIMER_VIRTUAL 1
#define ITIMER_PROF 2

struct itimerval {
  struct timeval it_interval;
  struct timeval it_value;
};
struct timezone {
  int tz_minuteswest;
  int tz_dsttime;
};

#ifdef __cplusplus
extern "C" {
#endif
int gettimeofday(struct timeval *tp, void *tzp);
int getitimer(int which, struct itimerval *value);
int setitimer(int which, const struct itimerval *value, struct itimerval *ovalue);
int utimes(const char *path, const struct timeval times[2]);
int futimes(int fildes, const struct timeval times[2]);
#ifdef __cplusplus
}
#endif

#endif

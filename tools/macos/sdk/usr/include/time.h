/* <time.h> of macOS. clockid_t is an enumeration there; the CLOCK_* names
 * are macros for its members.
 * Follows: the clock_gettime(3), time(3), ctime(3), strftime(3) and
 * nanosleep(2) manual pages of macOS. */
#ifndef VK_SDK_TIME_H
#define VK_SDK_TIME_H

#include <sys/_types.h>

#define CLOCKS_PER_SEC 1000000
#define TIME_UTC 1

struct tm {
  int tm_sec;
  int tm_min;
  int tm_hour;
  int tm_mday;
  int tm_mon;
  int tm_year;
  int tm_wday;
  int tm_yday;
  int tm_isdst;
  long tm_gmtoff;
  char *tm_zone;
};

typedef enum {
  _CLOCK_REALTIME = 0,
  _CLOCK_MONOTONIC = 6,
  _CLOCK_MONOTONIC_RAW = 4,
  _CLOCK_MONOTONIC_RAW_APPROX = 5,
  _CLOCK_UPTIME_RAW = 8,
  _CLOCK_UPTIME_RAW_APPROX = 9,
  _CLOCK_PROCESS_CPUTIME_ID = 12,
  _CLOCK_THREAD_CPUTIME_ID = 16
} clockid_t;
#define CLOCK_REALTIME _CLOCK_REALTIME
#define CLOCK_MONOTONIC _CLOCK_MONOTONIC
#define CLOCK_MONOTONIC_RAW _CLOCK_MONOTONIC_RAW
#define CLOCK_MONOTONIC_RAW_APPROX _CLOCK_MONOTONIC_RAW_APPROX
#define CLOCK_UPTIME_RAW _CLOCK_UPTIME_RAW
#define CLOCK_UPTIME_RAW_APPROX _CLOCK_UPTIME_RAW_APPROX
#define CLOCK_PROCESS_CPUTIME_ID _CLOCK_PROCESS_CPUTIME_ID
#define CLOCK_THREAD_CPUTIME_ID _CLOCK_THREAD_CPUTIME_ID

#ifdef __cplusplus
extern "C" {
#endif

extern char *tzname[];

char *asctime(const struct tm *timeptr);
clock_t clock(void);
char *ctime(const time_t *clock);
double difftime(time_t time1, time_t time0);
struct tm *gmtime(const time_t *clock);
struct tm *localtime(const time_t *clock);
time_t mktime(struct tm *timeptr);
size_t strftime(char *s, size_t maxsize, const char *format, const struct tm *timeptr);
time_t time(time_t *tloc);
int timespec_get(struct timespec *ts, int base);

char *asctime_r(const struct tm *tm, char *buf);
char *ctime_r(const time_t *clock, char *buf);
struct tm *gmtime_r(const time_t *clock, struct tm *result);
struct tm *localtime_r(const time_t *clock, struct tm *result);
char *strptime(const char *buf, const char *format, struct tm *tm);
void tzset(void);
time_t timegm(struct tm *timeptr);
int nanosleep(const struct timespec *rqtp, struct timespec *rmtp);
int clock_getres(clockid_t clock_id, struct timespec *res);
int clock_gettime(clockid_t clock_id, struct timespec *tp);
int clock_settime(clockid_t clock_id, const struct timespec *tp);
__uint64_t clock_gettime_nsec_np(clockid_t clock_id);

#ifdef __cplusplus
}
#endif

#endif

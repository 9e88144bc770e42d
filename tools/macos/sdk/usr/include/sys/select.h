/* <sys/select.h> of macOS.
 * Follows: the select(2) manual page of macOS. */
#ifndef VK_SDK_SYS_SELECT_H
#define VK_SDK_SYS_SELECT_H

#include <sys/_types.h>

#define FD_SETSIZE 1024
typedef struct fd_set {
  __int32_t fds_bits[FD_SETSIZE / 32];
} fd_set;
#define FD_SET(n, p) ((p)->fds_bits[(unsigned long)(n) / 32] |= (__int32_t)(1U << ((unsigned long)(n) % 32)))
#define FD_CLR(n, p) ((p)->fds_bits[(unsigned long)(n) / 32] &= ~(__int32_t)(1U << ((unsigned long)(n) % 32)))
#define FD_ISSET(n, p) (((p)->fds_bits[(unsigned long)(n) / 32] & (__int32_t)(1U << ((unsigned long)(n) % 32))) != 0)
#define FD_ZERO(p) __builtin_memset((p), 0, sizeof(*(p)))

#ifdef __cplusplus
extern "C" {
#endif
int select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *errorfds, struct timeval *timeout);
int pselect(int nfds, fd_set *readfds, fd_set *writefds, fd_set *errorfds,
            const struct timespec *timeout, const sigset_t *sigmask);
#ifdef __cplusplus
}
#endif

#endif

/* <sys/ioctl.h> of macOS with the requests this project can meet. The
 * request numbers are built as BSD's _IO/_IOR/_IOW encode them.
 * Follows: the ioctl(2) and tty(4) manual pages of macOS (FIOCLEX, FIONREAD,
 * FIONBIO, TIOCGWINSZ); the encoding is BSD's (unsure: not in the pages). */
#ifndef VK_SDK_SYS_IOCTL_H
#define VK_SDK_SYS_IOCTL_H

#include <sys/_types.h>

#define IOCPARM_MASK 0x1fff
#define IOC_VOID (__uint32_t)0x20000000
#define IOC_OUT (__uint32_t)0x40000000
#define IOC_IN (__uint32_t)0x80000000
#define _IOC(inout, group, num, len) \
  ((unsigned long)((inout) | (((len) & IOCPARM_MASK) << 16) | ((group) << 8) | (num)))
#define _IO(g, n) _IOC(IOC_VOID, (g), (n), 0)
#define _IOR(g, n, t) _IOC(IOC_OUT, (g), (n), sizeof(t))
#define _IOW(g, n, t) _IOC(IOC_IN, (g), (n), sizeof(t))

#define FIOCLEX _IO('f', 1)
#define FIONCLEX _IO('f', 2)
#define FIONREAD _IOR('f', 127, int)
#define FIONBIO _IOW('f', 126, int)

struct winsize {
  unsigned short ws_row;
  unsigned short ws_col;
  unsigned short ws_xpixel;
  unsigned short ws_ypixel;
};
#define TIOCGWINSZ _IOR('t', 104, struct winsize)

#ifdef __cplusplus
extern "C" {
#endif
int ioctl(int fildes, unsigned long request, ...);
#ifdef __cplusplus
}
#endif

#endif

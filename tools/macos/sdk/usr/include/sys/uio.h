/* <sys/uio.h> of macOS.
 * Follows: the read(2) and write(2) manual pages of macOS (readv, writev). */
#ifndef VK_SDK_SYS_UIO_H
#define VK_SDK_SYS_UIO_H

#include <sys/_types.h>

struct iovec {
  void *iov_base;
  size_t iov_len;
};

#ifdef __cplusplus
extern "C" {
#endif
ssize_t readv(int d, const struct iovec *iov, int iovcnt);
ssize_t writev(int fildes, const struct iovec *iov, int iovcnt);
#ifdef __cplusplus
}
#endif

#endif

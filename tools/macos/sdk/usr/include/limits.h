/* The POSIX limits of macOS; clang's own <limits.h> supplies the C ones and
 * includes this one. macOS has no HOST_NAME_MAX here.
 * Follows: the intro(2) and sysconf(3) manual pages of macOS and
 * POSIX.1-2017 <limits.h>. */
#ifndef VK_SDK_LIMITS_H
#define VK_SDK_LIMITS_H

#define SSIZE_MAX 0x7fffffffffffffffL
#define LONG_BIT 64
#define WORD_BIT 32
#define ARG_MAX (1024 * 1024)
#define CHILD_MAX 266
#define LINK_MAX 32767
#define MAX_CANON 1024
#define MAX_INPUT 1024
#define NAME_MAX 255
#define NGROUPS_MAX 16
#define OPEN_MAX 10240
#define PATH_MAX 1024
#define PIPE_BUF 512
#define IOV_MAX 1024
#define LINE_MAX 2048
#define CHARCLASS_NAME_MAX 14
#define RE_DUP_MAX 255
#define NZERO 20
#define _POSIX_ARG_MAX 4096
#define _POSIX_PATH_MAX 256
#define _POSIX_NAME_MAX 14
#define _POSIX_OPEN_MAX 20

#endif

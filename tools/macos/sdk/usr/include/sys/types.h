/* <sys/types.h> of macOS.
 * Follows: POSIX.1-2017 <sys/types.h> and the types(5) manual page of macOS. */
#ifndef VK_SDK_SYS_TYPES_H
#define VK_SDK_SYS_TYPES_H

#include <sys/_types.h>

typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef unsigned long u_long;
typedef __uint8_t u_int8_t;
typedef __uint16_t u_int16_t;
typedef __uint32_t u_int32_t;
typedef __uint64_t u_int64_t;
typedef char *caddr_t;

#endif

/* Types shared by the C library headers below, with the widths macOS gives
 * them on both 64-bit architectures.
 * Follows: POSIX.1-2017 <sys/types.h> and the types(5) manual page of macOS
 * (developer.apple.com/library/archive/documentation/System/Conceptual/ManPages_iPhoneOS). */
#ifndef VK_SDK_SYS__TYPES_H
#define VK_SDK_SYS__TYPES_H

#include <stddef.h>
#include <stdint.h>

/* Intel Macs keep the 32-bit-inode struct stat and struct dirent under the
 * plain names of the calls that fill them; the 64-bit-inode forms declared
 * here are bound by the names with the $INODE64 suffix (stat(2), "64-bit
 * inode"). Apple silicon has only the 64-bit forms, under the plain names. */
#if defined(__x86_64__)
#define __DARWIN_INODE64(sym) __asm("_" #sym "$INODE64")
#else
#define __DARWIN_INODE64(sym)
#endif

/* Calls whose POSIX-conforming form with Darwin's extensions is bound by a
 * suffixed name on both architectures; the plain name is the legacy form
 * (realpath(3): a C program links _realpath$DARWIN_EXTSN, and the legacy
 * realpath has been seen failing where it does not). Unsure: no Apple page
 * lists the suffixed names. */
#define __DARWIN_EXTSN(sym) __asm("_" #sym "$DARWIN_EXTSN")

typedef signed char __int8_t;
typedef unsigned char __uint8_t;
typedef short __int16_t;
typedef unsigned short __uint16_t;
typedef int __int32_t;
typedef unsigned int __uint32_t;
typedef long long __int64_t;
typedef unsigned long long __uint64_t;
typedef long __darwin_intptr_t;
typedef unsigned int __darwin_natural_t;
typedef int __darwin_ct_rune_t;
typedef __builtin_va_list __darwin_va_list;
typedef int __darwin_wint_t;
typedef __darwin_ct_rune_t __darwin_rune_t;
typedef union {
  char __mbstate8[128];
  long long _mbstateL;
} __mbstate_t;
typedef __mbstate_t __darwin_mbstate_t;

typedef long ssize_t;
typedef __int64_t off_t;
typedef __int32_t pid_t;
typedef __uint32_t uid_t;
typedef __uint32_t gid_t;
typedef __uint32_t id_t;
typedef __uint16_t mode_t;
typedef __int32_t dev_t;
typedef __uint64_t ino_t;
typedef __uint16_t nlink_t;
typedef __int32_t blksize_t;
typedef __int64_t blkcnt_t;
typedef __uint32_t fsblkcnt_t;
typedef __uint32_t fsfilcnt_t;
typedef __uint32_t useconds_t;
typedef __int32_t suseconds_t;
typedef long time_t;
typedef unsigned long clock_t;
typedef __int32_t key_t;
typedef __uint32_t socklen_t;
typedef __uint8_t sa_family_t;
typedef __darwin_mbstate_t mbstate_t;
typedef __darwin_wint_t wint_t;
typedef __darwin_ct_rune_t ct_rune_t;
typedef __darwin_rune_t rune_t;
typedef unsigned long pthread_key_t;
typedef __uint32_t sigset_t;
typedef struct _xlocale *locale_t;

/* The pthread objects are opaque: a signature word and reserved bytes. */
struct _opaque_pthread_t {
  long __sig;
  char __opaque[8176];
};
typedef struct _opaque_pthread_t *pthread_t;
typedef struct { long __sig; char __opaque[56]; } pthread_attr_t;
typedef struct { long __sig; char __opaque[56]; } pthread_mutex_t;
typedef struct { long __sig; char __opaque[8]; } pthread_mutexattr_t;
typedef struct { long __sig; char __opaque[40]; } pthread_cond_t;
typedef struct { long __sig; char __opaque[8]; } pthread_condattr_t;
typedef struct { long __sig; char __opaque[192]; } pthread_rwlock_t;
typedef struct { long __sig; char __opaque[16]; } pthread_rwlockattr_t;
typedef struct { long __sig; char __opaque[8]; } pthread_once_t;

struct timespec {
  time_t tv_sec;
  long tv_nsec;
};
struct timeval {
  time_t tv_sec;
  suseconds_t tv_usec;
};

#endif

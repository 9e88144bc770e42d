/* <string.h> as macOS declares it. memset_s is declared only when
 * __STDC_WANT_LIB_EXT1__ is 1 before the first inclusion, as C11 Annex K
 * asks; later definitions of the macro have no effect (include guard).
 * Follows: the string(3) and memset_s(3) manual pages of macOS
 * (developer.apple.com/library/archive/documentation/System/Conceptual/ManPages_iPhoneOS/man3/memset_s.3.html). */
#ifndef VK_SDK_STRING_H
#define VK_SDK_STRING_H

#include <sys/_types.h>

#ifdef __cplusplus
extern "C" {
#endif

void *memchr(const void *s, int c, size_t n);
int memcmp(const void *s1, const void *s2, size_t n);
void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t len);
void *memset(void *b, int c, size_t len);
char *strcat(char *s1, const char *s2);
char *strchr(const char *s, int c);
int strcmp(const char *s1, const char *s2);
int strcoll(const char *s1, const char *s2);
char *strcpy(char *dst, const char *src);
size_t strcspn(const char *s, const char *charset);
char *strerror(int errnum);
size_t strlen(const char *s);
char *strncat(char *s1, const char *s2, size_t n);
int strncmp(const char *s1, const char *s2, size_t n);
char *strncpy(char *dst, const char *src, size_t len);
char *strpbrk(const char *s, const char *charset);
char *strrchr(const char *s, int c);
size_t strspn(const char *s, const char *charset);
char *strstr(const char *big, const char *little);
char *strtok(char *str, const char *sep);
size_t strxfrm(char *s1, const char *s2, size_t n);

/* POSIX */
char *strtok_r(char *str, const char *sep, char **lasts);
int strerror_r(int errnum, char *strerrbuf, size_t buflen); /* the XSI form: returns 0 or an error number */
char *strdup(const char *s1);
char *strndup(const char *s1, size_t n);
size_t strnlen(const char *s, size_t maxlen);
char *stpcpy(char *dst, const char *src);
char *stpncpy(char *dst, const char *src, size_t len);
char *strsignal(int sig);
void *memccpy(void *dst, const void *src, int c, size_t n);
int strcoll_l(const char *s1, const char *s2, locale_t loc);
size_t strxfrm_l(char *s1, const char *s2, size_t n, locale_t loc);

/* BSD */
size_t strlcpy(char *dst, const char *src, size_t dstsize);
size_t strlcat(char *dst, const char *src, size_t dstsize);
char *strsep(char **stringp, const char *delim);
char *strnstr(const char *big, const char *little, size_t len);
void *memmem(const void *big, size_t big_len, const void *little, size_t little_len);
void memset_pattern4(void *b, const void *pattern4, size_t len);

#if defined(__STDC_WANT_LIB_EXT1__) && __STDC_WANT_LIB_EXT1__ >= 1
typedef size_t rsize_t;
typedef int errno_t;
errno_t memset_s(void *s, rsize_t smax, int c, rsize_t n);
#endif

#ifdef __cplusplus
}
#endif

#include <strings.h>

#endif

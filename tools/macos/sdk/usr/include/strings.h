/* <strings.h> of macOS.
 * Follows: POSIX.1-2017 <strings.h> and the bzero(3), strcasecmp(3) and
 * ffs(3) manual pages of macOS. */
#ifndef VK_SDK_STRINGS_H
#define VK_SDK_STRINGS_H

#include <sys/_types.h>

#ifdef __cplusplus
extern "C" {
#endif

int bcmp(const void *s1, const void *s2, size_t n);
void bcopy(const void *src, void *dst, size_t len);
void bzero(void *s, size_t n);
char *index(const char *s, int c);
char *rindex(const char *s, int c);
int ffs(int value);
int strcasecmp(const char *s1, const char *s2);
int strncasecmp(const char *s1, const char *s2, size_t n);
int strcasecmp_l(const char *s1, const char *s2, locale_t loc);
int strncasecmp_l(const char *s1, const char *s2, size_t n, locale_t loc);

#ifdef __cplusplus
}
#endif

#endif

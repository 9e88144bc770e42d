/* <regex.h> of macOS (POSIX regular expressions; GoogleTest uses them on
 * macOS). regoff_t is 64 bits there.
 * Follows: the regex(3) manual page of macOS. */
#ifndef VK_SDK_REGEX_H
#define VK_SDK_REGEX_H

#include <sys/_types.h>

typedef off_t regoff_t;
typedef struct {
  int re_magic;
  size_t re_nsub;
  const char *re_endp;
  struct re_guts *re_g;
} regex_t;
typedef struct {
  regoff_t rm_so;
  regoff_t rm_eo;
} regmatch_t;

#define REG_BASIC 0000
#define REG_EXTENDED 0001
#define REG_ICASE 0002
#define REG_NOSUB 0004
#define REG_NEWLINE 0010
#define REG_NOTBOL 00001
#define REG_NOTEOL 00002
#define REG_NOMATCH 1

#ifdef __cplusplus
extern "C" {
#endif
int regcomp(regex_t *preg, const char *pattern, int cflags);
size_t regerror(int errcode, const regex_t *preg, char *errbuf, size_t errbuf_size);
int regexec(const regex_t *preg, const char *string, size_t nmatch, regmatch_t pmatch[],
            int eflags);
void regfree(regex_t *preg);
#ifdef __cplusplus
}
#endif

#endif

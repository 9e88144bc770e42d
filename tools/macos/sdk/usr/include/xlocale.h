/* <xlocale.h> of macOS: the *_l forms of the C library's locale-dependent
 * calls, which libc++ calls directly on Apple platforms.
 * Follows: the xlocale(3) manual page of macOS, which lists them. */
#ifndef VK_SDK_XLOCALE_H
#define VK_SDK_XLOCALE_H

#include <sys/_types.h>
#include <locale.h>
#include <stdio.h>
#include <time.h>
#include <wchar.h>

#define MB_CUR_MAX_L(x) (___mb_cur_max_l(x))

#ifdef __cplusplus
extern "C" {
#endif

int ___mb_cur_max_l(locale_t loc);
struct lconv *localeconv_l(locale_t loc);

int isalnum_l(int c, locale_t loc);
int isalpha_l(int c, locale_t loc);
int isblank_l(int c, locale_t loc);
int iscntrl_l(int c, locale_t loc);
int isdigit_l(int c, locale_t loc);
int isgraph_l(int c, locale_t loc);
int islower_l(int c, locale_t loc);
int isprint_l(int c, locale_t loc);
int ispunct_l(int c, locale_t loc);
int isspace_l(int c, locale_t loc);
int isupper_l(int c, locale_t loc);
int isxdigit_l(int c, locale_t loc);
int tolower_l(int c, locale_t loc);
int toupper_l(int c, locale_t loc);

int iswalnum_l(wint_t wc, locale_t loc);
int iswalpha_l(wint_t wc, locale_t loc);
int iswblank_l(wint_t wc, locale_t loc);
int iswcntrl_l(wint_t wc, locale_t loc);
int iswdigit_l(wint_t wc, locale_t loc);
int iswgraph_l(wint_t wc, locale_t loc);
int iswlower_l(wint_t wc, locale_t loc);
int iswprint_l(wint_t wc, locale_t loc);
int iswpunct_l(wint_t wc, locale_t loc);
int iswspace_l(wint_t wc, locale_t loc);
int iswupper_l(wint_t wc, locale_t loc);
int iswxdigit_l(wint_t wc, locale_t loc);
int iswctype_l(wint_t wc, __uint32_t charclass, locale_t loc);
wint_t towlower_l(wint_t wc, locale_t loc);
wint_t towupper_l(wint_t wc, locale_t loc);

wint_t btowc_l(int c, locale_t loc);
int wctob_l(wint_t c, locale_t loc);
size_t mbrlen_l(const char *s, size_t n, mbstate_t *ps, locale_t loc);
size_t mbrtowc_l(wchar_t *pwc, const char *s, size_t n, mbstate_t *ps, locale_t loc);
int mbtowc_l(wchar_t *pwc, const char *s, size_t n, locale_t loc);
size_t mbsrtowcs_l(wchar_t *dst, const char **src, size_t len, mbstate_t *ps, locale_t loc);
size_t mbsnrtowcs_l(wchar_t *dst, const char **src, size_t nms, size_t len, mbstate_t *ps,
                    locale_t loc);
size_t wcrtomb_l(char *s, wchar_t wc, mbstate_t *ps, locale_t loc);
size_t wcsnrtombs_l(char *dst, const wchar_t **src, size_t nwc, size_t len, mbstate_t *ps,
                    locale_t loc);
size_t wcsrtombs_l(char *dst, const wchar_t **src, size_t len, mbstate_t *ps, locale_t loc);
int wcscoll_l(const wchar_t *ws1, const wchar_t *ws2, locale_t loc);
size_t wcsxfrm_l(wchar_t *ws1, const wchar_t *ws2, size_t n, locale_t loc);

int snprintf_l(char *str, size_t size, locale_t loc, const char *format, ...);
int asprintf_l(char **ret, locale_t loc, const char *format, ...);
int sscanf_l(const char *str, locale_t loc, const char *format, ...);
int vsnprintf_l(char *str, size_t size, locale_t loc, const char *format, va_list ap);
int vasprintf_l(char **ret, locale_t loc, const char *format, va_list ap);

long strtol_l(const char *str, char **endptr, int base, locale_t loc);
long long strtoll_l(const char *str, char **endptr, int base, locale_t loc);
unsigned long strtoul_l(const char *str, char **endptr, int base, locale_t loc);
unsigned long long strtoull_l(const char *str, char **endptr, int base, locale_t loc);
double strtod_l(const char *nptr, char **endptr, locale_t loc);
float strtof_l(const char *nptr, char **endptr, locale_t loc);
long double strtold_l(const char *nptr, char **endptr, locale_t loc);

size_t strftime_l(char *s, size_t maxsize, const char *format, const struct tm *timeptr,
                  locale_t loc);
char *strptime_l(const char *buf, const char *format, struct tm *tm, locale_t loc);

#ifdef __cplusplus
}
#endif

#endif

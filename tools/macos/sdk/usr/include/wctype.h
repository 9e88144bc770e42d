/* <wctype.h> of macOS: wctype_t is a class mask, as libc++ expects there.
 * Follows: the wctype(3), iswalnum(3) and towlower(3) manual pages of macOS. */
#ifndef VK_SDK_WCTYPE_H
#define VK_SDK_WCTYPE_H

#include <sys/_types.h>

#ifndef WEOF
#define WEOF ((wint_t)-1)
#endif

typedef __uint32_t wctype_t;
typedef int wctrans_t;

#ifdef __cplusplus
extern "C" {
#endif

int iswalnum(wint_t wc);
int iswalpha(wint_t wc);
int iswblank(wint_t wc);
int iswcntrl(wint_t wc);
int iswdigit(wint_t wc);
int iswgraph(wint_t wc);
int iswlower(wint_t wc);
int iswprint(wint_t wc);
int iswpunct(wint_t wc);
int iswspace(wint_t wc);
int iswupper(wint_t wc);
int iswxdigit(wint_t wc);
int iswctype(wint_t wc, wctype_t charclass);
wint_t towlower(wint_t wc);
wint_t towupper(wint_t wc);
wint_t towctrans(wint_t wc, wctrans_t desc);
wctrans_t wctrans(const char *charclass);
wctype_t wctype(const char *property);

#ifdef __cplusplus
}
#endif

#endif

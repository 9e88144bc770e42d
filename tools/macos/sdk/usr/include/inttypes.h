/* <inttypes.h> of macOS: int64_t is long long there (on Linux it is long),
 * so the 64-bit conversions use "ll"; intptr_t and intmax_t are long.
 * Follows: the inttypes(3) manual page of macOS and C11 7.8. */
#ifndef VK_SDK_INTTYPES_H
#define VK_SDK_INTTYPES_H

#include <stdint.h>

#define PRId8 "hhd"
#define PRIi8 "hhi"
#define PRIu8 "hhu"
#define PRIx8 "hhx"
#define PRId16 "hd"
#define PRIi16 "hi"
#define PRIu16 "hu"
#define PRIx16 "hx"
#define PRId32 "d"
#define PRIi32 "i"
#define PRIu32 "u"
#define PRIx32 "x"
#define PRIX32 "X"
#define PRId64 "lld"
#define PRIi64 "lli"
#define PRIu64 "llu"
#define PRIx64 "llx"
#define PRIX64 "llX"
#define PRIdPTR "ld"
#define PRIuPTR "lu"
#define PRIxPTR "lx"
#define PRIdMAX "jd"
#define PRIuMAX "ju"
#define PRIxMAX "jx"
#define SCNd32 "d"
#define SCNu32 "u"
#define SCNd64 "lld"
#define SCNu64 "llu"
#define SCNx64 "llx"

typedef struct {
  intmax_t quot;
  intmax_t rem;
} imaxdiv_t;

#ifdef __cplusplus
extern "C" {
#endif
intmax_t imaxabs(intmax_t j);
imaxdiv_t imaxdiv(intmax_t numer, intmax_t denom);
intmax_t strtoimax(const char *nptr, char **endptr, int base);
uintmax_t strtoumax(const char *nptr, char **endptr, int base);
intmax_t wcstoimax(const __WCHAR_TYPE__ *nptr, __WCHAR_TYPE__ **endptr, int base);
uintmax_t wcstoumax(const __WCHAR_TYPE__ *nptr, __WCHAR_TYPE__ **endptr, int base);
#ifdef __cplusplus
}
#endif

#endif

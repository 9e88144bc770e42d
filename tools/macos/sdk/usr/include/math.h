/* <math.h> of macOS. The classification and comparison macros map onto the
 * compiler's builtins, which is what they compute on both architectures.
 * Follows: the math(3) manual page of macOS and the pages it lists. */
#ifndef VK_SDK_MATH_H
#define VK_SDK_MATH_H

typedef float float_t;
typedef double double_t;

#define HUGE_VAL __builtin_huge_val()
#define HUGE_VALF __builtin_huge_valf()
#define HUGE_VALL __builtin_huge_vall()
#define INFINITY __builtin_inff()
#define NAN __builtin_nanf("")
#define FP_NAN 1
#define FP_INFINITE 2
#define FP_ZERO 3
#define FP_NORMAL 4
#define FP_SUBNORMAL 5
#define FP_ILOGB0 (-2147483647 - 1)
#define FP_ILOGBNAN (-2147483647 - 1)
#define MATH_ERRNO 1
#define MATH_ERREXCEPT 2
#define math_errhandling MATH_ERREXCEPT
#define M_E 2.71828182845904523536028747135266250
#define M_LN2 0.693147180559945309417232121458176568
#define M_PI 3.14159265358979323846264338327950288
#define M_SQRT2 1.41421356237309504880168872420969808

#define fpclassify(x) __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x)
#define isfinite(x) __builtin_isfinite(x)
#define isinf(x) __builtin_isinf(x)
#define isnan(x) __builtin_isnan(x)
#define isnormal(x) __builtin_isnormal(x)
#define signbit(x) __builtin_signbit(x)
#define isgreater(x, y) __builtin_isgreater((x), (y))
#define isgreaterequal(x, y) __builtin_isgreaterequal((x), (y))
#define isless(x, y) __builtin_isless((x), (y))
#define islessequal(x, y) __builtin_islessequal((x), (y))
#define islessgreater(x, y) __builtin_islessgreater((x), (y))
#define isunordered(x, y) __builtin_isunordered((x), (y))

#ifdef __cplusplus
extern "C" {
#endif

float acosf(float x);
double acos(double x);
long double acosl(long double x);
float asinf(float x);
double asin(double x);
long double asinl(long double x);
float atanf(float x);
double atan(double x);
long double atanl(long double x);
float cosf(float x);
double cos(double x);
long double cosl(long double x);
float sinf(float x);
double sin(double x);
long double sinl(long double x);
float tanf(float x);
double tan(double x);
long double tanl(long double x);
float acoshf(float x);
double acosh(double x);
long double acoshl(long double x);
float asinhf(float x);
double asinh(double x);
long double asinhl(long double x);
float atanhf(float x);
double atanh(double x);
long double atanhl(long double x);
float coshf(float x);
double cosh(double x);
long double coshl(long double x);
float sinhf(float x);
double sinh(double x);
long double sinhl(long double x);
float tanhf(float x);
double tanh(double x);
long double tanhl(long double x);
float expf(float x);
double exp(double x);
long double expl(long double x);
float exp2f(float x);
double exp2(double x);
long double exp2l(long double x);
float expm1f(float x);
double expm1(double x);
long double expm1l(long double x);
float logf(float x);
double log(double x);
long double logl(long double x);
float log10f(float x);
double log10(double x);
long double log10l(long double x);
float log2f(float x);
double log2(double x);
long double log2l(long double x);
float log1pf(float x);
double log1p(double x);
long double log1pl(long double x);
float logbf(float x);
double logb(double x);
long double logbl(long double x);
float fabsf(float x);
double fabs(double x);
long double fabsl(long double x);
float cbrtf(float x);
double cbrt(double x);
long double cbrtl(long double x);
float sqrtf(float x);
double sqrt(double x);
long double sqrtl(long double x);
float erff(float x);
double erf(double x);
long double erfl(long double x);
float erfcf(float x);
double erfc(double x);
long double erfcl(long double x);
float lgammaf(float x);
double lgamma(double x);
long double lgammal(long double x);
float tgammaf(float x);
double tgamma(double x);
long double tgammal(long double x);
float ceilf(float x);
double ceil(double x);
long double ceill(long double x);
float floorf(float x);
double floor(double x);
long double floorl(long double x);
float nearbyintf(float x);
double nearbyint(double x);
long double nearbyintl(long double x);
float rintf(float x);
double rint(double x);
long double rintl(long double x);
float roundf(float x);
double round(double x);
long double roundl(long double x);
float truncf(float x);
double trunc(double x);
long double truncl(long double x);
float atan2f(float x, float y);
double atan2(double x, double y);
long double atan2l(long double x, long double y);
float hypotf(float x, float y);
double hypot(double x, double y);
long double hypotl(long double x, long double y);
float powf(float x, float y);
double pow(double x, double y);
long double powl(long double x, long double y);
float fmodf(float x, float y);
double fmod(double x, double y);
long double fmodl(long double x, long double y);
float remainderf(float x, float y);
double remainder(double x, double y);
long double remainderl(long double x, long double y);
float copysignf(float x, float y);
double copysign(double x, double y);
long double copysignl(long double x, long double y);
float nextafterf(float x, float y);
double nextafter(double x, double y);
long double nextafterl(long double x, long double y);
float fdimf(float x, float y);
double fdim(double x, double y);
long double fdiml(long double x, long double y);
float fmaxf(float x, float y);
double fmax(double x, double y);
long double fmaxl(long double x, long double y);
float fminf(float x, float y);
double fmin(double x, double y);
long double fminl(long double x, long double y);
float fmaf(float x, float y, float z);
double fma(double x, double y, double z);
long double fmal(long double x, long double y, long double z);
float frexpf(float value, int *exp);
double frexp(double value, int *exp);
long double frexpl(long double value, int *exp);
float ldexpf(float x, int n);
double ldexp(double x, int n);
long double ldexpl(long double x, int n);
float modff(float value, float *iptr);
double modf(double value, double *iptr);
long double modfl(long double value, long double *iptr);
float scalbnf(float x, int n);
double scalbn(double x, int n);
long double scalbnl(long double x, int n);
float scalblnf(float x, long n);
double scalbln(double x, long n);
long double scalblnl(long double x, long n);
int ilogbf(float x);
int ilogb(double x);
int ilogbl(long double x);
long lrintf(float x);
long lrint(double x);
long lrintl(long double x);
long long llrintf(float x);
long long llrint(double x);
long long llrintl(long double x);
long lroundf(float x);
long lround(double x);
long lroundl(long double x);
long long llroundf(float x);
long long llround(double x);
long long llroundl(long double x);
float remquof(float x, float y, int *quo);
double remquo(double x, double y, int *quo);
long double remquol(long double x, long double y, int *quo);
float nexttowardf(float x, long double y);
double nexttoward(double x, long double y);
long double nexttowardl(long double x, long double y);
float nanf(const char *tagp);
double nan(const char *tagp);
long double nanl(const char *tagp);

#ifdef __cplusplus
}
#endif

#endif

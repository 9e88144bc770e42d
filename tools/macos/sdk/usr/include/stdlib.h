/* <stdlib.h> of macOS.
 * Follows: the stdlib(3) family of manual pages of macOS (malloc(3),
 * strtol(3), getenv(3), arc4random(3), mkstemp(3), realpath(3)) and
 * POSIX.1-2017 <stdlib.h>. */
#ifndef VK_SDK_STDLIB_H
#define VK_SDK_STDLIB_H

#include <sys/_types.h>
#include <sys/wait.h>

#define EXIT_FAILURE 1
#define EXIT_SUCCESS 0
#define RAND_MAX 0x7fffffff
#define MB_CUR_MAX (___mb_cur_max())

#ifdef __cplusplus
extern "C" {
#endif

typedef struct { int quot; int rem; } div_t;
typedef struct { long quot; long rem; } ldiv_t;
typedef struct { long long quot; long long rem; } lldiv_t;

int ___mb_cur_max(void);

void abort(void) __attribute__((__noreturn__));
int abs(int j) __attribute__((__const__));
int atexit(void (*func)(void));
int at_quick_exit(void (*func)(void));
double atof(const char *str);
int atoi(const char *str);
long atol(const char *str);
long long atoll(const char *str);
void *bsearch(const void *key, const void *base, size_t nel, size_t width,
              int (*compar)(const void *, const void *));
void *calloc(size_t count, size_t size);
div_t div(int numer, int denom) __attribute__((__const__));
void exit(int status) __attribute__((__noreturn__));
void _Exit(int status) __attribute__((__noreturn__));
void quick_exit(int status) __attribute__((__noreturn__));
void free(void *ptr);
char *getenv(const char *name);
long labs(long j) __attribute__((__const__));
ldiv_t ldiv(long numer, long denom) __attribute__((__const__));
long long llabs(long long j);
lldiv_t lldiv(long long numer, long long denom);
void *malloc(size_t size);
int mblen(const char *s, size_t n);
size_t mbstowcs(wchar_t *pwcs, const char *s, size_t n);
int mbtowc(wchar_t *pwc, const char *s, size_t n);
void qsort(void *base, size_t nel, size_t width, int (*compar)(const void *, const void *));
int rand(void);
void *realloc(void *ptr, size_t size);
void srand(unsigned seed);
double strtod(const char *nptr, char **endptr);
float strtof(const char *nptr, char **endptr);
long strtol(const char *str, char **endptr, int base);
long double strtold(const char *nptr, char **endptr);
long long strtoll(const char *str, char **endptr, int base);
unsigned long strtoul(const char *str, char **endptr, int base);
unsigned long long strtoull(const char *str, char **endptr, int base);
int system(const char *command);
size_t wcstombs(char *s, const wchar_t *pwcs, size_t n);
int wctomb(char *s, wchar_t wchar);
void *aligned_alloc(size_t alignment, size_t size);

/* POSIX */
int posix_memalign(void **memptr, size_t alignment, size_t size);
int setenv(const char *name, const char *value, int overwrite);
int unsetenv(const char *name);
int putenv(char *string);
int mkstemp(char *path);
char *mkdtemp(char *path);
char *realpath(const char *file_name, char *resolved_name) __DARWIN_EXTSN(realpath);
int rand_r(unsigned *seed);
long random(void);
void srandom(unsigned seed);

/* BSD */
uint32_t arc4random(void);
void arc4random_buf(void *buf, size_t nbytes);
uint32_t arc4random_uniform(uint32_t upper_bound);
int mkostemp(char *path, int oflags);
const char *getprogname(void);
void setprogname(const char *name);
void *reallocf(void *ptr, size_t size);
long long strtoq(const char *str, char **endptr, int base);
unsigned long long strtouq(const char *str, char **endptr, int base);

#ifdef __cplusplus
}
#endif

#endif

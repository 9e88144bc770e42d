/* <stdio.h> of macOS. FILE is struct __sFILE; stdin, stdout and stderr are
 * macros over __stdinp, __stdoutp and __stderrp.
 * Follows: the stdio(3) manual page of macOS and the pages it lists
 * (fopen(3), printf(3), getline(3), popen(3), funopen(3)). */
#ifndef VK_SDK_STDIO_H
#define VK_SDK_STDIO_H

#include <sys/_types.h>

typedef __darwin_va_list va_list;
typedef off_t fpos_t;
typedef struct __sFILE FILE;

#define BUFSIZ 1024
#define EOF (-1)
#define FOPEN_MAX 20
#define FILENAME_MAX 1024
#define L_tmpnam 1024
#define TMP_MAX 308915776
#define L_ctermid 1024
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#define _IOFBF 0
#define _IOLBF 1
#define _IONBF 2

#ifdef __cplusplus
extern "C" {
#endif

extern FILE *__stdinp;
extern FILE *__stdoutp;
extern FILE *__stderrp;
#define stdin __stdinp
#define stdout __stdoutp
#define stderr __stderrp

void clearerr(FILE *stream);
int fclose(FILE *stream);
int feof(FILE *stream);
int ferror(FILE *stream);
int fflush(FILE *stream);
int fgetc(FILE *stream);
int fgetpos(FILE *stream, fpos_t *pos);
char *fgets(char *str, int size, FILE *stream);
FILE *fopen(const char *path, const char *mode);
int fprintf(FILE *stream, const char *format, ...) __attribute__((__format__(__printf__, 2, 3)));
int fputc(int c, FILE *stream);
int fputs(const char *s, FILE *stream);
size_t fread(void *ptr, size_t size, size_t nitems, FILE *stream);
FILE *freopen(const char *path, const char *mode, FILE *stream);
int fscanf(FILE *stream, const char *format, ...) __attribute__((__format__(__scanf__, 2, 3)));
int fseek(FILE *stream, long offset, int whence);
int fsetpos(FILE *stream, const fpos_t *pos);
long ftell(FILE *stream);
size_t fwrite(const void *ptr, size_t size, size_t nitems, FILE *stream);
int getc(FILE *stream);
int getchar(void);
void perror(const char *s);
int printf(const char *format, ...) __attribute__((__format__(__printf__, 1, 2)));
int putc(int c, FILE *stream);
int putchar(int c);
int puts(const char *s);
int remove(const char *path);
int rename(const char *old, const char *new_name);
void rewind(FILE *stream);
int scanf(const char *format, ...) __attribute__((__format__(__scanf__, 1, 2)));
void setbuf(FILE *stream, char *buf);
int setvbuf(FILE *stream, char *buf, int mode, size_t size);
int snprintf(char *str, size_t size, const char *format, ...) __attribute__((__format__(__printf__, 3, 4)));
int sprintf(char *str, const char *format, ...) __attribute__((__format__(__printf__, 2, 3)));
int sscanf(const char *str, const char *format, ...) __attribute__((__format__(__scanf__, 2, 3)));
FILE *tmpfile(void);
char *tmpnam(char *s);
int ungetc(int c, FILE *stream);
int vfprintf(FILE *stream, const char *format, va_list ap) __attribute__((__format__(__printf__, 2, 0)));
int vfscanf(FILE *stream, const char *format, va_list arg) __attribute__((__format__(__scanf__, 2, 0)));
int vprintf(const char *format, va_list ap) __attribute__((__format__(__printf__, 1, 0)));
int vscanf(const char *format, va_list arg) __attribute__((__format__(__scanf__, 1, 0)));
int vsnprintf(char *str, size_t size, const char *format, va_list ap) __attribute__((__format__(__printf__, 3, 0)));
int vsprintf(char *str, const char *format, va_list ap) __attribute__((__format__(__printf__, 2, 0)));
int vsscanf(const char *str, const char *format, va_list arg) __attribute__((__format__(__scanf__, 2, 0)));

/* POSIX */
char *ctermid(char *buf);
FILE *fdopen(int fildes, const char *mode);
int fileno(FILE *stream);
int pclose(FILE *stream);
FILE *popen(const char *command, const char *mode);
int fseeko(FILE *stream, off_t offset, int whence);
off_t ftello(FILE *stream);
int dprintf(int fd, const char *format, ...) __attribute__((__format__(__printf__, 2, 3)));
int vdprintf(int fd, const char *format, va_list ap) __attribute__((__format__(__printf__, 2, 0)));
ssize_t getdelim(char **linep, size_t *linecapp, int delimiter, FILE *stream);
ssize_t getline(char **linep, size_t *linecapp, FILE *stream);
FILE *fmemopen(void *buf, size_t size, const char *mode);
FILE *open_memstream(char **bufp, size_t *sizep);
void flockfile(FILE *file);
int ftrylockfile(FILE *file);
void funlockfile(FILE *file);
int getc_unlocked(FILE *stream);
int putc_unlocked(int c, FILE *stream);
int renameat(int fromfd, const char *from, int tofd, const char *to);

/* BSD */
int asprintf(char **ret, const char *format, ...) __attribute__((__format__(__printf__, 2, 3)));
int vasprintf(char **ret, const char *format, va_list ap) __attribute__((__format__(__printf__, 2, 0)));
void setlinebuf(FILE *stream);
FILE *funopen(const void *cookie, int (*readfn)(void *, char *, int),
              int (*writefn)(void *, const char *, int), fpos_t (*seekfn)(void *, fpos_t, int),
              int (*closefn)(void *));

#ifdef __cplusplus
}
#endif

#endif

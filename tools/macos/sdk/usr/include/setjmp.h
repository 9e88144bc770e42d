/* <setjmp.h> of macOS; jmp_buf sizes as _JBLEN gives them per architecture
 * (unsure: the sizes are not in the manual page).
 * Follows: the setjmp(3) manual page of macOS. */
#ifndef VK_SDK_SETJMP_H
#define VK_SDK_SETJMP_H

#if defined(__x86_64__)
#define _JBLEN ((9 * 2) + 3 + 16)
#else
#define _JBLEN ((14 + 8 + 2) * 2)
#endif
typedef int jmp_buf[_JBLEN];
typedef int sigjmp_buf[_JBLEN + 1];

#ifdef __cplusplus
extern "C" {
#endif
int setjmp(jmp_buf env);
void longjmp(jmp_buf env, int val) __attribute__((__noreturn__));
int sigsetjmp(sigjmp_buf env, int savemask);
void siglongjmp(sigjmp_buf env, int val) __attribute__((__noreturn__));
#ifdef __cplusplus
}
#endif

#endif

/* <sys/wait.h> of macOS. The status macros decode the layout wait(2)
 * describes: exit status in bits 8-15, signal number in bits 0-6.
 * Follows: the wait(2) manual page of macOS and POSIX.1-2017 <sys/wait.h>. */
#ifndef VK_SDK_SYS_WAIT_H
#define VK_SDK_SYS_WAIT_H

#include <sys/_types.h>
#include <sys/signal.h>
#include <sys/resource.h>

#define WNOHANG 0x00000001
#define WUNTRACED 0x00000002
#define WEXITED 0x00000004
#define WSTOPPED 0x00000008
#define WCONTINUED 0x00000010
#define WNOWAIT 0x00000020

#define _W_INT(w) (*(int *)&(w))
#define WCOREFLAG 0200
#define _WSTATUS(x) (_W_INT(x) & 0177)
#define _WSTOPPED 0177
#define WEXITSTATUS(x) ((_W_INT(x) >> 8) & 0x000000ff)
#define WSTOPSIG(x) (_W_INT(x) >> 8)
#define WIFCONTINUED(x) (_WSTATUS(x) == _WSTOPPED && WSTOPSIG(x) == 0x13)
#define WIFSTOPPED(x) (_WSTATUS(x) == _WSTOPPED && WSTOPSIG(x) != 0x13)
#define WIFEXITED(x) (_WSTATUS(x) == 0)
#define WIFSIGNALED(x) (_WSTATUS(x) != _WSTOPPED && _WSTATUS(x) != 0)
#define WTERMSIG(x) (_WSTATUS(x))
#define WCOREDUMP(x) (_W_INT(x) & WCOREFLAG)

typedef enum { P_ALL, P_PID, P_PGID } idtype_t;

#ifdef __cplusplus
extern "C" {
#endif

pid_t wait(int *stat_loc);
pid_t waitpid(pid_t pid, int *stat_loc, int options);
pid_t wait3(int *stat_loc, int options, struct rusage *rusage);
pid_t wait4(pid_t pid, int *stat_loc, int options, struct rusage *rusage);

#ifdef __cplusplus
}
#endif

#endif

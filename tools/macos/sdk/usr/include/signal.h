/* <signal.h> of macOS. sigemptyset and sigaddset are macros over the 32-bit
 * sigset_t on macOS; functions here, which accept the same calls.
 * Follows: the signal(3), sigaction(2), sigsetops(3), kill(2) and
 * pthread_sigmask(2) manual pages of macOS. */
#ifndef VK_SDK_SIGNAL_H
#define VK_SDK_SIGNAL_H

#include <sys/_types.h>
#include <sys/signal.h>

#ifdef __cplusplus
extern "C" {
#endif

void (*signal(int sig, void (*func)(int)))(int);
int raise(int sig);
int kill(pid_t pid, int sig);
int killpg(pid_t pgrp, int sig);
int sigaction(int sig, const struct sigaction *act, struct sigaction *oact);
int sigaddset(sigset_t *set, int signo);
int sigdelset(sigset_t *set, int signo);
int sigemptyset(sigset_t *set);
int sigfillset(sigset_t *set);
int sigismember(const sigset_t *set, int signo);
int sigpending(sigset_t *set);
int sigprocmask(int how, const sigset_t *set, sigset_t *oset);
int sigsuspend(const sigset_t *sigmask);
int sigwait(const sigset_t *set, int *sig);
int pthread_sigmask(int how, const sigset_t *set, sigset_t *oset);
int pthread_kill(pthread_t thread, int sig);
void psignal(unsigned sig, const char *s);

#ifdef __cplusplus
}
#endif

#endif

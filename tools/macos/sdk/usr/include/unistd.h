/* <unistd.h> of macOS. No pipe2, dup3 or getresuid; getpeereid, issetugid
 * and the BSD group calls are here. The _SC_ numbers are macOS's.
 * Follows: the manual pages of macOS for each call (pipe(2), getpeereid(3),
 * sysconf(3), getgrouplist(3)). getentropy is in <sys/random.h> only. */
#ifndef VK_SDK_UNISTD_H
#define VK_SDK_UNISTD_H

#include <sys/_types.h>

#define STDIN_FILENO 0
#define STDOUT_FILENO 1
#define STDERR_FILENO 2
#define F_OK 0
#define X_OK (1 << 0)
#define W_OK (1 << 1)
#define R_OK (1 << 2)
#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif
#define _POSIX_VERSION 200112L
#define _POSIX_THREADS 200112L

/* sysconf(3) names; unsure of the exact numbers beyond the first few. */
#define _SC_ARG_MAX 1
#define _SC_CHILD_MAX 2
#define _SC_CLK_TCK 3
#define _SC_NGROUPS_MAX 4
#define _SC_OPEN_MAX 5
#define _SC_JOB_CONTROL 6
#define _SC_SAVED_IDS 7
#define _SC_VERSION 8
#define _SC_PAGESIZE 29
#define _SC_PAGE_SIZE _SC_PAGESIZE
#define _SC_NPROCESSORS_CONF 57
#define _SC_NPROCESSORS_ONLN 58
#define _SC_GETGR_R_SIZE_MAX 70
#define _SC_GETPW_R_SIZE_MAX 71
#define _SC_LOGIN_NAME_MAX 73
#define _SC_HOST_NAME_MAX 72
#define _SC_PHYS_PAGES 200

#define _PC_LINK_MAX 1
#define _PC_NAME_MAX 4
#define _PC_PATH_MAX 5
#define _PC_PIPE_BUF 6

#ifdef __cplusplus
extern "C" {
#endif

extern char *optarg;
extern int optind, opterr, optopt;

void _exit(int status) __attribute__((__noreturn__));
int access(const char *path, int mode);
unsigned int alarm(unsigned int seconds);
int chdir(const char *path);
int chown(const char *path, uid_t owner, gid_t group);
int close(int fildes);
int dup(int fildes);
int dup2(int fildes, int fildes2);
int execl(const char *path, const char *arg0, ...);
int execle(const char *path, const char *arg0, ...);
int execlp(const char *file, const char *arg0, ...);
int execv(const char *path, char *const argv[]);
int execve(const char *path, char *const argv[], char *const envp[]);
int execvp(const char *file, char *const argv[]);
int execvP(const char *file, const char *search_path, char *const argv[]);
int faccessat(int fd, const char *path, int mode, int flag);
int fchdir(int fildes);
int fchown(int fildes, uid_t owner, gid_t group);
int fchownat(int fd, const char *path, uid_t owner, gid_t group, int flag);
pid_t fork(void);
long fpathconf(int fildes, int name);
int fsync(int fildes);
int ftruncate(int fildes, off_t length);
char *getcwd(char *buf, size_t size);
gid_t getegid(void);
uid_t geteuid(void);
gid_t getgid(void);
int getgroups(int gidsetsize, gid_t grouplist[]);
int gethostname(char *name, size_t namelen);
char *getlogin(void);
int getlogin_r(char *name, size_t namesize);
int getopt(int argc, char *const argv[], const char *optstring);
pid_t getpgid(pid_t pid);
pid_t getpgrp(void);
pid_t getpid(void);
pid_t getppid(void);
pid_t getsid(pid_t pid);
uid_t getuid(void);
int isatty(int fildes);
int lchown(const char *path, uid_t owner, gid_t group);
int link(const char *path1, const char *path2);
int linkat(int fd1, const char *name1, int fd2, const char *name2, int flag);
off_t lseek(int fildes, off_t offset, int whence);
long pathconf(const char *path, int name);
int pause(void);
int pipe(int fildes[2]);
ssize_t pread(int d, void *buf, size_t nbyte, off_t offset);
ssize_t pwrite(int fildes, const void *buf, size_t nbyte, off_t offset);
ssize_t read(int fildes, void *buf, size_t nbyte);
ssize_t readlink(const char *path, char *buf, size_t bufsize);
ssize_t readlinkat(int fd, const char *path, char *buf, size_t bufsize);
int rmdir(const char *path);
int setegid(gid_t egid);
int seteuid(uid_t euid);
int setgid(gid_t gid);
int setpgid(pid_t pid, pid_t pgid);
pid_t setsid(void);
int setuid(uid_t uid);
int setregid(gid_t rgid, gid_t egid);
int setreuid(uid_t ruid, uid_t euid);
unsigned int sleep(unsigned int seconds);
int symlink(const char *path1, const char *path2);
int symlinkat(const char *name1, int fd, const char *name2);
void sync(void);
long sysconf(int name);
pid_t tcgetpgrp(int fildes);
int tcsetpgrp(int fildes, pid_t pgid_id);
int truncate(const char *path, off_t length);
char *ttyname(int fd);
int ttyname_r(int fd, char *buf, size_t len);
int unlink(const char *path);
int unlinkat(int fd, const char *path, int flag);
int usleep(useconds_t microseconds);
ssize_t write(int fildes, const void *buf, size_t nbyte);

/* BSD and macOS */
int getpeereid(int socket, uid_t *euid, gid_t *egid);
int issetugid(void);
int getgrouplist(const char *name, int basegid, int *groups, int *ngroups);
int initgroups(const char *name, int basegid);
int setgroups(int ngroups, const gid_t *gidset);
int getdtablesize(void);
int daemon(int nochdir, int noclose);

#ifdef __cplusplus
}
#endif

#endif

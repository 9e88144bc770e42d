/* <pwd.h> of macOS; struct passwd carries BSD's pw_change, pw_class and
 * pw_expire.
 * Follows: the getpwent(3) manual page of macOS. */
#ifndef VK_SDK_PWD_H
#define VK_SDK_PWD_H

#include <sys/_types.h>

struct passwd {
  char *pw_name;
  char *pw_passwd;
  uid_t pw_uid;
  gid_t pw_gid;
  time_t pw_change;
  char *pw_class;
  char *pw_gecos;
  char *pw_dir;
  char *pw_shell;
  time_t pw_expire;
};

#ifdef __cplusplus
extern "C" {
#endif
struct passwd *getpwnam(const char *login);
struct passwd *getpwuid(uid_t uid);
int getpwnam_r(const char *name, struct passwd *pwd, char *buffer, size_t bufsize,
               struct passwd **result);
int getpwuid_r(uid_t uid, struct passwd *pwd, char *buffer, size_t bufsize,
               struct passwd **result);
struct passwd *getpwent(void);
void setpwent(void);
void endpwent(void);
#ifdef __cplusplus
}
#endif

#endif

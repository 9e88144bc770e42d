/* <grp.h> of macOS. (getgrouplist, setgroups and initgroups are in
 * <unistd.h> there.)
 * Follows: the getgrent(3) manual page of macOS. */
#ifndef VK_SDK_GRP_H
#define VK_SDK_GRP_H

#include <sys/_types.h>

struct group {
  char *gr_name;
  char *gr_passwd;
  gid_t gr_gid;
  char **gr_mem;
};

#ifdef __cplusplus
extern "C" {
#endif
struct group *getgrgid(gid_t gid);
struct group *getgrnam(const char *name);
int getgrgid_r(gid_t gid, struct group *grp, char *buffer, size_t bufsize, struct group **result);
int getgrnam_r(const char *name, struct group *grp, char *buffer, size_t bufsize,
               struct group **result);
struct group *getgrent(void);
void setgrent(void);
void endgrent(void);
#ifdef __cplusplus
}
#endif

#endif

/* <dirent.h> of macOS (64-bit inodes: d_namlen and a 1024-byte d_name).
 * On Intel Macs the calls that take a DIR or fill a struct dirent have
 * $INODE64 names, as the stat calls do (sys/_types.h); which of them do is
 * not on the pages (unsure for rewinddir, seekdir and telldir).
 * Follows: the directory(3) and dir(5) manual pages of macOS. */
#ifndef VK_SDK_DIRENT_H
#define VK_SDK_DIRENT_H

#include <sys/_types.h>

#define DT_UNKNOWN 0
#define DT_FIFO 1
#define DT_CHR 2
#define DT_DIR 4
#define DT_BLK 6
#define DT_REG 8
#define DT_LNK 10
#define DT_SOCK 12
#define DT_WHT 14

struct dirent {
  __uint64_t d_ino;
  __uint64_t d_seekoff;
  __uint16_t d_reclen;
  __uint16_t d_namlen;
  __uint8_t d_type;
  char d_name[1024];
};

typedef struct __vk_dirdesc DIR;

#ifdef __cplusplus
extern "C" {
#endif
int closedir(DIR *dirp);
int dirfd(DIR *dirp);
DIR *fdopendir(int fd) __DARWIN_INODE64(fdopendir);
DIR *opendir(const char *filename) __DARWIN_INODE64(opendir);
struct dirent *readdir(DIR *dirp) __DARWIN_INODE64(readdir);
int readdir_r(DIR *dirp, struct dirent *entry, struct dirent **result) __DARWIN_INODE64(readdir_r);
void rewinddir(DIR *dirp) __DARWIN_INODE64(rewinddir);
void seekdir(DIR *dirp, long loc) __DARWIN_INODE64(seekdir);
long telldir(DIR *dirp) __DARWIN_INODE64(telldir);
int alphasort(const struct dirent **d1, const struct dirent **d2) __DARWIN_INODE64(alphasort);
int scandir(const char *dirname, struct dirent ***namelist, int (*select)(const struct dirent *),
            int (*compar)(const struct dirent **, const struct dirent **)) __DARWIN_INODE64(scandir);
#ifdef __cplusplus
}
#endif

#endif

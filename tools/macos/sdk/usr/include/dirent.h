/* <dirent.h> of macOS (64-bit inodes: d_namlen and a 1024-byte d_name).
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
DIR *fdopendir(int fd);
DIR *opendir(const char *filename);
struct dirent *readdir(DIR *dirp);
int readdir_r(DIR *dirp, struct dirent *entry, struct dirent **result);
void rewinddir(DIR *dirp);
void seekdir(DIR *dirp, long loc);
long telldir(DIR *dirp);
int alphasort(const struct dirent **d1, const struct dirent **d2);
int scandir(const char *dirname, struct dirent ***namelist, int (*select)(const struct dirent *),
            int (*compar)(const struct dirent **, const struct dirent **));
#ifdef __cplusplus
}
#endif

#endif

/* <mach-o/dyld.h>: the running executable's path and the loaded images.
 * Follows: the dyld(3) manual page of macOS (_NSGetExecutablePath). */
#ifndef VK_SDK_MACH_O_DYLD_H
#define VK_SDK_MACH_O_DYLD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* 0 with the path in buf; -1 with the size needed in *bufsize when buf is
 * too small. */
int _NSGetExecutablePath(char *buf, uint32_t *bufsize);
uint32_t _dyld_image_count(void);
const char *_dyld_get_image_name(uint32_t image_index);
intptr_t _dyld_get_image_vmaddr_slide(uint32_t image_index);
#ifdef __cplusplus
}
#endif

#endif

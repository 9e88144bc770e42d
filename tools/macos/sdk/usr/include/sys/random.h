/* <sys/random.h> of macOS: getentropy (macOS 10.12 and later); there is no
 * getrandom.
 * Follows: the getentropy(2) manual page of macOS. */
#ifndef VK_SDK_SYS_RANDOM_H
#define VK_SDK_SYS_RANDOM_H

#include <sys/_types.h>

#ifdef __cplusplus
extern "C" {
#endif
int getentropy(void *buffer, size_t size);
#ifdef __cplusplus
}
#endif

#endif

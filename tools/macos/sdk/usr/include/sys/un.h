/* <sys/un.h> of macOS: sun_path holds 104 bytes (108 on Linux), and the
 * local-socket options name the peer (LOCAL_PEERCRED, LOCAL_PEERPID).
 * Follows: the unix(4) manual page of macOS. */
#ifndef VK_SDK_SYS_UN_H
#define VK_SDK_SYS_UN_H

#include <sys/_types.h>

struct sockaddr_un {
  unsigned char sun_len;
  sa_family_t sun_family;
  char sun_path[104];
};

#define SOL_LOCAL 0
#define LOCAL_PEERCRED 0x001
#define LOCAL_PEERPID 0x002
#define LOCAL_PEEREPID 0x003
#define LOCAL_PEERUUID 0x004
#define SUN_LEN(su) (sizeof(*(su)) - sizeof((su)->sun_path) + __builtin_strlen((su)->sun_path))

#endif

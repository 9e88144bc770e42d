/* <sys/socket.h> of macOS. Addresses begin with a length byte; there is no
 * SOCK_CLOEXEC, SOCK_NONBLOCK or accept4, and SIGPIPE is suppressed per
 * socket with SO_NOSIGPIPE. MSG_NOSIGNAL is left out: it is not part of the
 * macOS 13 SDK's public interface (unsure for later SDKs), so code must not
 * depend on it.
 * Follows: the socket(2), setsockopt(2), send(2), recv(2) and socketpair(2)
 * manual pages of macOS. */
#ifndef VK_SDK_SYS_SOCKET_H
#define VK_SDK_SYS_SOCKET_H

#include <sys/_types.h>
#include <sys/uio.h>

#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define SOCK_SEQPACKET 5

#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_REUSEPORT 0x0200
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDLOWAT 0x1003
#define SO_RCVLOWAT 0x1004
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define SO_NREAD 0x1020
#define SO_NOSIGPIPE 0x1022
#define SO_NWRITE 0x1024
#define SOMAXCONN 128

#define AF_UNSPEC 0
#define AF_UNIX 1
#define AF_LOCAL AF_UNIX
#define AF_INET 2
#define AF_INET6 30
#define PF_UNSPEC AF_UNSPEC
#define PF_UNIX AF_UNIX
#define PF_LOCAL AF_LOCAL
#define PF_INET AF_INET
#define PF_INET6 AF_INET6

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_EOR 0x8
#define MSG_TRUNC 0x10
#define MSG_CTRUNC 0x20
#define MSG_WAITALL 0x40
#define MSG_DONTWAIT 0x80

#define SHUT_RD 0
#define SHUT_WR 1
#define SHUT_RDWR 2

#define SCM_RIGHTS 0x01
#define SCM_CREDS 0x03

struct sockaddr {
  __uint8_t sa_len;
  sa_family_t sa_family;
  char sa_data[14];
};

struct sockaddr_storage {
  __uint8_t ss_len;
  sa_family_t ss_family;
  char __ss_pad1[6];
  __int64_t __ss_align;
  char __ss_pad2[112];
};

struct linger {
  int l_onoff;
  int l_linger;
};

struct msghdr {
  void *msg_name;
  socklen_t msg_namelen;
  struct iovec *msg_iov;
  int msg_iovlen;
  void *msg_control;
  socklen_t msg_controllen;
  int msg_flags;
};

struct cmsghdr {
  socklen_t cmsg_len;
  int cmsg_level;
  int cmsg_type;
};

/* Control messages are aligned to 4 bytes on macOS. */
#define __VK_CMSG_ALIGN(n) (((size_t)(n) + sizeof(__uint32_t) - 1) & ~(sizeof(__uint32_t) - 1))
#define CMSG_DATA(cmsg) ((unsigned char *)(cmsg) + __VK_CMSG_ALIGN(sizeof(struct cmsghdr)))
#define CMSG_SPACE(l) (__VK_CMSG_ALIGN(sizeof(struct cmsghdr)) + __VK_CMSG_ALIGN(l))
#define CMSG_LEN(l) (__VK_CMSG_ALIGN(sizeof(struct cmsghdr)) + (l))
#define CMSG_FIRSTHDR(mhdr) \
  ((mhdr)->msg_controllen >= sizeof(struct cmsghdr) ? (struct cmsghdr *)(mhdr)->msg_control \
                                                    : (struct cmsghdr *)0L)
#define CMSG_NXTHDR(mhdr, cmsg)                                                          \
  (((unsigned char *)(cmsg) + __VK_CMSG_ALIGN((cmsg)->cmsg_len) +                        \
        __VK_CMSG_ALIGN(sizeof(struct cmsghdr)) >                                        \
    (unsigned char *)(mhdr)->msg_control + (mhdr)->msg_controllen)                       \
       ? (struct cmsghdr *)0L                                                            \
       : (struct cmsghdr *)(void *)((unsigned char *)(cmsg) + __VK_CMSG_ALIGN((cmsg)->cmsg_len)))

#ifdef __cplusplus
extern "C" {
#endif
int accept(int socket, struct sockaddr *address, socklen_t *address_len);
int bind(int socket, const struct sockaddr *address, socklen_t address_len);
int connect(int socket, const struct sockaddr *address, socklen_t address_len);
int getpeername(int socket, struct sockaddr *address, socklen_t *address_len);
int getsockname(int socket, struct sockaddr *address, socklen_t *address_len);
int getsockopt(int socket, int level, int option_name, void *option_value, socklen_t *option_len);
int listen(int socket, int backlog);
ssize_t recv(int socket, void *buffer, size_t length, int flags);
ssize_t recvfrom(int socket, void *buffer, size_t length, int flags, struct sockaddr *address,
                 socklen_t *address_len);
ssize_t recvmsg(int socket, struct msghdr *message, int flags);
ssize_t send(int socket, const void *buffer, size_t length, int flags);
ssize_t sendmsg(int socket, const struct msghdr *message, int flags);
ssize_t sendto(int socket, const void *buffer, size_t length, int flags,
               const struct sockaddr *dest_addr, socklen_t dest_len);
int setsockopt(int socket, int level, int option_name, const void *option_value,
               socklen_t option_len);
int shutdown(int socket, int how);
int sockatmark(int s);
int socket(int domain, int type, int protocol);
int socketpair(int domain, int type, int protocol, int socket_vector[2]);
#ifdef __cplusplus
}
#endif

#endif

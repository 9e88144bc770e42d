/* minimal_relay: the baseline relay_bench compares the host against. It does
 * per request only what any relay must: read the frame from standard input,
 * read the token file, connect, write, read the reply, close, write the reply
 * frame. No JSON is parsed or written.
 *
 * Shortcuts a real relay could not take, acceptable for a baseline:
 *  - the socket is VK_IPC_SOCKET_PATH as given (no trimming, no fallbacks,
 *    no refusal of temporary directories);
 *  - the token is trimmed of ASCII white space only and must fit 4 KiB;
 *  - the token goes in by splicing `"auth_token":"<token>",` after the first
 *    byte of a body whose first non-blank byte is '{' (no comma for "{}");
 *    a body that already carries "auth_token" would then hold it twice, and
 *    other bodies travel unchanged;
 *  - any failure is answered with one fixed error reply.
 * The request is sent with one writev from the buffer it was read into, and
 * the reply is read behind its length field and written with one write, so
 * no frame is copied in user space. */
#define _DEFAULT_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#define MAX_BODY 1048576u
#define MAX_TOKEN 4096u
#define AUTH_OPEN "\"auth_token\":\""

static const char kErrorReply[] = "{\"error\":\"minimal relay: exchange failed\",\"id\":null}";

/* Reads exactly `size` bytes; 0 on success, -1 on end of input or error. */
static int read_full(int fd, char *buffer, size_t size) {
  while (size > 0) {
    ssize_t n = read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    buffer += n;
    size -= (size_t)n;
  }
  return 0;
}

/* Writes all of `iov`, advancing it over short writes; 0 on success. */
static int writev_full(int fd, struct iovec *iov, int count) {
  while (count > 0) {
    ssize_t n = writev(fd, iov, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    size_t done = (size_t)n;
    while (count > 0 && done >= iov->iov_len) {
      done -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = (char *)iov->iov_base + done;
      iov->iov_len -= done;
    }
  }
  return 0;
}

static int is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

/* Reads the token file into `splice` as `"auth_token":"<token>"` (comma
 * added by the caller); returns the length, or 0 on failure. */
static size_t read_token_splice(const char *path, char *splice, size_t room) {
  char token[MAX_TOKEN];
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t used = 0;
  for (;;) {
    ssize_t n = read(fd, token + used, sizeof token - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += (size_t)n;
    if (used == sizeof token) break;
  }
  close(fd);
  size_t begin = 0;
  while (begin < used && is_blank(token[begin])) ++begin;
  while (used > begin && is_blank(token[used - 1])) --used;
  size_t length = used - begin;
  if (length < 32 || sizeof AUTH_OPEN - 1 + length + 1 > room) return 0;
  memcpy(splice, AUTH_OPEN, sizeof AUTH_OPEN - 1);
  memcpy(splice + sizeof AUTH_OPEN - 1, token + begin, length);
  splice[sizeof AUTH_OPEN - 1 + length] = '"';
  return sizeof AUTH_OPEN - 1 + length + 1;
}

/* One exchange on a fresh connection; the reply body lands at reply + 4.
 * Returns the reply length, or -1 on failure. */
static long exchange(const struct sockaddr_un *address, const char *token_path, char *body,
                     uint32_t length, char *reply) {
  char splice[MAX_TOKEN + 32];
  size_t splice_length = read_token_splice(token_path, splice, sizeof splice - 1);
  if (splice_length == 0) return -1;

  size_t first = 0;
  while (first < length && is_blank(body[first])) ++first;
  struct iovec iov[4];
  int count = 0;
  uint32_t sent_length = length;
  char length_field[4];
  iov[count].iov_base = length_field;
  iov[count++].iov_len = sizeof length_field;
  if (first < length && body[first] == '{') {
    size_t next = first + 1;
    while (next < length && is_blank(body[next])) ++next;
    if (next < length && body[next] != '}') splice[splice_length++] = ',';
    iov[count].iov_base = body;
    iov[count++].iov_len = first + 1;
    iov[count].iov_base = splice;
    iov[count++].iov_len = splice_length;
    iov[count].iov_base = body + first + 1;
    iov[count++].iov_len = length - first - 1;
    sent_length += (uint32_t)splice_length;
  } else {
    iov[count].iov_base = body;
    iov[count++].iov_len = length;
  }
  memcpy(length_field, &sent_length, sizeof sent_length);

#ifdef SOCK_CLOEXEC
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
#else
  /* macOS: one more call, as the host makes there. */
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
    close(fd);
    return -1;
  }
#endif
  long result = -1;
  uint32_t reply_length = 0;
  if (connect(fd, (const struct sockaddr *)address, sizeof *address) == 0 &&
      writev_full(fd, iov, count) == 0 && read_full(fd, reply, 4) == 0) {
    memcpy(&reply_length, reply, sizeof reply_length);
    if (reply_length <= MAX_BODY && read_full(fd, reply + 4, reply_length) == 0) result = reply_length;
  }
  close(fd);
  return result;
}

int main(void) {
  signal(SIGPIPE, SIG_IGN);
  const char *socket_path = getenv("VK_IPC_SOCKET_PATH");
  if (socket_path == NULL || *socket_path == '\0') {
    fputs("minimal_relay: VK_IPC_SOCKET_PATH is not set\n", stderr);
    return 1;
  }
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  size_t path_length = strlen(socket_path);
  if (path_length >= sizeof address.sun_path) {
    fputs("minimal_relay: socket path too long\n", stderr);
    return 1;
  }
  memcpy(address.sun_path, socket_path, path_length);

  const char *slash = strrchr(socket_path, '/');
  size_t dir_length = slash == NULL ? 0 : (size_t)(slash - socket_path) + 1;
  char *token_path = malloc(dir_length + sizeof "vellumkeep-native.token");
  char *body = malloc(MAX_BODY);
  char *reply = malloc(4 + MAX_BODY);
  if (token_path == NULL || body == NULL || reply == NULL) return 1;
  memcpy(token_path, socket_path, dir_length);
  memcpy(token_path + dir_length, "vellumkeep-native.token", sizeof "vellumkeep-native.token");

  for (;;) {
    uint32_t length = 0;
    if (read_full(STDIN_FILENO, (char *)&length, sizeof length) != 0) break;
    if (length > MAX_BODY || read_full(STDIN_FILENO, body, length) != 0) break;
    long reply_length = exchange(&address, token_path, body, length, reply);
    size_t out_length;
    if (reply_length < 0) {
      uint32_t n = sizeof kErrorReply - 1;
      memcpy(reply, &n, sizeof n);
      memcpy(reply + 4, kErrorReply, n);
      out_length = 4 + n;
    } else {
      out_length = 4 + (size_t)reply_length;
    }
    struct iovec out = {reply, out_length};
    if (writev_full(STDOUT_FILENO, &out, 1) != 0) break;
  }
  free(reply);
  free(body);
  free(token_path);
  return 0;
}

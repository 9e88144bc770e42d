// memset_s is declared only when this is defined before the first
// inclusion of <string.h>, which any C++ header may already make.
#define __STDC_WANT_LIB_EXT1__ 1

#include "native_messaging/ipc_auth.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <cstring>

#include "native_messaging/fd_io.h"
#include "native_messaging/unicode_text.h"
#include "native_messaging/unique_fd.h"

namespace vk {
namespace {

// Reads `fd` to its end; `size_hint` (from fstat) normally makes one read
// into one buffer enough. A file that grows meanwhile moves to a larger
// buffer, and each smaller one is wiped before it is released.
Result<std::string> read_to_end(int fd, std::size_t size_hint) {
  std::string content;
  // One byte beyond the hint lets the end be seen without growing.
  content.resize(size_hint + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) {
      std::string larger;
      larger.resize(2 * content.size());
      std::memcpy(larger.data(), content.data(), used);
      wipe_secret(content);
      content.swap(larger);
    }
    Result<std::size_t> n =
        read_some(fd, std::span<char>(content.data() + used, content.size() - used));
    if (!n) {
      wipe_secret(content);
      return std::move(n).error();
    }
    if (*n == 0) break;
    used += *n;
  }
  content.resize(used);
  return content;
}

}  // namespace

void wipe_secret(std::string& secret) {
  // Stores the compiler may not drop although the bytes are never read again.
#if defined(__GLIBC__)
  explicit_bzero(secret.data(), secret.size());
#elif defined(__APPLE__)
  memset_s(secret.data(), secret.size(), 0, secret.size());
#else
  volatile char* bytes = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
#endif
  secret.clear();
}

Result<std::string> read_token(const std::string& path) {
  // O_NONBLOCK keeps the open itself from waiting for a FIFO's writer. What
  // was opened must be a regular file, so a FIFO, device or directory can
  // neither stall the host nor feed it endlessly; the file is then read
  // with ordinary blocking reads.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return Error::from_errno(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(errno);
  if (!S_ISREG(st.st_mode)) return Error(std::string(kTokenNotRegularFile));
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags == -1 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Error::from_errno(errno);
  const auto size_hint = static_cast<std::size_t>(st.st_size);
  Result<std::string> content = read_to_end(fd.get(), size_hint);
  if (!content) return std::move(content).error();
  std::string raw = std::move(content).value();
  if (!is_valid_utf8(raw)) {
    wipe_secret(raw);
    return Error(std::string(kNotUtf8));
  }
  std::string token(trim_unicode_white_space(raw));
  wipe_secret(raw);
  if (token.size() < kMinTokenLength) {
    wipe_secret(token);
    return Error(std::string(kTokenTooShort));
  }
  return token;
}

JsonValue inject_auth_token(const JsonValue& request, std::string_view token) {
  return request.with_string_member(kAuthTokenMember, token);
}

}  // namespace vk

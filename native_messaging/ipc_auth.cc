// memset_s is declared only when this is defined before the first
// inclusion of <string.h>, which any C++ header may already make.
#define __STDC_WANT_LIB_EXT1__ 1

#include "native_messaging/ipc_auth.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "native_messaging/fd_io.h"
#include "unicode/utf8.h"
#include "unicode/white_space.h"
#include "native_messaging/unique_fd.h"

namespace vk {
namespace {

// Overwrites `size` bytes at `bytes` with stores the compiler may not drop
// although the bytes are never read again.
void wipe_bytes(char* bytes, std::size_t size) {
#if defined(__GLIBC__)
  explicit_bzero(bytes, size);
#elif defined(__APPLE__)
  memset_s(bytes, size, 0, size);
#else
  volatile char* v = bytes;
  for (std::size_t i = 0; i < size; ++i) v[i] = 0;
#endif
}

// What must not be read as a token file: a directory (refused with the
// error reading one gives), anything else that is not a regular file (a
// FIFO or a device may block, never end or act on being opened), and a file
// larger than a request frame.
Result<void> require_token_file(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return Error::from_errno(EISDIR);
  if (!S_ISREG(st.st_mode)) return Error(std::string(kTokenNotRegularFile));
  if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > kMaxTokenFileSize) {
    return Error(std::string(kTokenFileTooLarge));
  }
  return {};
}

// Reads `fd` to its end, refusing more than kMaxTokenFileSize bytes;
// `size_hint` (from fstat) normally makes one read into one buffer enough.
// A file that grows meanwhile moves to a larger buffer, and each smaller
// one is wiped before it is released.
Result<std::string> read_to_end(int fd, std::size_t size_hint) {
  std::string content;
  // One byte beyond the hint lets the end be seen without growing; one
  // beyond the limit, a file above it.
  content.resize(std::min(size_hint, kMaxTokenFileSize) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) {
      if (used > kMaxTokenFileSize) {
        wipe_secret(content);
        return Error(std::string(kTokenFileTooLarge));
      }
      std::string larger;
      larger.resize(std::min(2 * content.size(), kMaxTokenFileSize + 1));
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

// Trims `text` (valid UTF-8) of Unicode white space in its own buffer, so
// that no second copy of the token is made; the bytes it gives up are wiped.
void trim_in_place(std::string& text) {
  const std::string_view trimmed = trim_unicode_white_space(text);
  const std::size_t size = trimmed.size();
  std::memmove(text.data(), trimmed.data(), size);
  wipe_bytes(text.data() + size, text.size() - size);
  text.resize(size);
}

}  // namespace

void wipe_secret(std::string& secret) {
  wipe_bytes(secret.data(), secret.size());
  secret.clear();
}

Result<std::string> read_token(const std::string& path) {
  // The kind of file is known before it is opened: opening a FIFO or a
  // device acts on it (a FIFO's waiting writer goes on, a device's driver
  // runs). O_NONBLOCK keeps the open from waiting for a FIFO's writer should
  // one replace the file meanwhile; the descriptor is checked again, and a
  // regular file is then read with ordinary blocking reads.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Error::from_errno(errno);
  if (Result<void> usable = require_token_file(st); !usable) return std::move(usable).error();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return Error::from_errno(errno);
  if (::fstat(fd.get(), &st) != 0) return Error::from_errno(errno);
  if (Result<void> usable = require_token_file(st); !usable) return std::move(usable).error();
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags == -1 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Error::from_errno(errno);
  Result<std::string> content = read_to_end(fd.get(), static_cast<std::size_t>(st.st_size));
  if (!content) return std::move(content).error();
  std::string token = std::move(content).value();
  if (!is_valid_utf8(token)) {
    wipe_secret(token);
    return Error(std::string(kNotUtf8));
  }
  trim_in_place(token);
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

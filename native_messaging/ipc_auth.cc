// memset_s is declared only when this is defined before the first
// inclusion of <string.h>, which any C++ header may already make.
#define __STDC_WANT_LIB_EXT1__ 1

#include "native_messaging/ipc_auth.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "native_messaging/fd_io.h"
#include "native_messaging/unicode_text.h"
#include "native_messaging/unique_fd.h"

namespace vk {
namespace {

// Most bytes read from a token file. A longer token could not travel in any
// request (1 MiB), and an endless file such as /dev/zero, or a huge sparse
// one, must not exhaust memory.
constexpr std::size_t kMaxTokenFileSize = 1'048'576;

// Reads `fd` to its end; `size_hint` (from fstat) avoids regrowing. More
// than kMaxTokenFileSize bytes fail with EFBIG.
Result<std::string> read_to_end(int fd, std::size_t size_hint) {
  std::string content;
  // One byte beyond the hint lets the end be seen without growing.
  content.resize(std::min(size_hint, kMaxTokenFileSize) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) {
      if (used > kMaxTokenFileSize) {
        wipe_secret(content);
        return Error::from_errno(EFBIG);
      }
      content.resize(std::min(content.size() * 2, kMaxTokenFileSize + 1));
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
  // O_NONBLOCK: a FIFO in the token's place must not block the open (nor a
  // read) forever; regular files are unaffected.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return Error::from_errno(errno);
  struct stat st;
  std::size_t size_hint = 0;
  if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) size_hint = static_cast<std::size_t>(st.st_size);
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

JsonValue inject_auth_token(JsonValue request, std::string_view token) {
  if (JsonObject* object = request.as_object()) {
    object->set(std::string(kAuthTokenMember), JsonValue(std::string(token)));
  }
  return request;
}

}  // namespace vk

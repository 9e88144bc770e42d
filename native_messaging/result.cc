#include "native_messaging/result.h"

#include <string.h>

namespace vk {

Error Error::from_errno(int code) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* description = strerror_r(code, buffer, sizeof buffer);
#else
  const char* description = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "Unknown error";
#endif
  std::string text(description);
  text += " (os error ";
  text += std::to_string(code);
  text += ')';
  return Error(std::move(text));
}

Error Error::prefixed(std::string_view prefix) const {
  std::string text;
  text.reserve(prefix.size() + text_.size());
  text.append(prefix);
  text.append(text_);
  return Error(std::move(text));
}

}  // namespace vk

// Opens the backends module for the host executable. Without a usable
// module the host's bridge still answers, as a machine without fprintd and
// without a Secret Service would.
#pragma once

#include <string>

#include "biometric_auth/linux/desktop_backends.h"
#include "native_messaging/result.h"

namespace vk::biometric::linux_backend {

struct DesktopBackends {
  MakePlatformFunction makePlatform = nullptr;
  MakeKeychainFunction makeKeychain = nullptr;
};

// Opens the module at `path` (by its real path) for the rest of the process
// and finds its factories; the error says why it cannot be used. A module
// that is not a regular file, or that it or its folder lets anyone but root
// or this user change, is refused before it is opened.
Result<DesktopBackends, std::string> openDesktopBackends(const std::string& path);

// The module at its fixed place beside this executable, opened on the first
// call for the rest of the process; why it cannot be used goes to standard
// error once.
const Result<DesktopBackends, std::string>& systemBackends();

}  // namespace vk::biometric::linux_backend

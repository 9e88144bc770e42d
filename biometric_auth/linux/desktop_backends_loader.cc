#include "biometric_auth/linux/desktop_backends_loader.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace vk::biometric::linux_backend {
namespace {

// Refuses `path`, whose status is `st`, unless it belongs to root or this
// user and neither group nor others may write it.
Result<void, std::string> requireOwnedAndNotShared(const std::string& path, const struct stat& st) {
  const uid_t own = geteuid();
  if (st.st_uid != 0 && st.st_uid != own) {
    return path + ": owned by uid " + std::to_string(st.st_uid) + ", neither root nor this user (uid " +
           std::to_string(own) + ")";
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return path + ": writable by group or others (mode " + mode + ")";
  }
  return {};
}

// Whoever can write the module or its folder runs code in the host the
// moment it is opened (its constructors run before any symbol is looked
// up): only a regular file that root or this user alone can change, in a
// folder that root or this user alone can change, is opened. `real` has no
// links left.
Result<void, std::string> requireOnlyTrustedWriters(const std::string& real) {
  const std::string folder = real.substr(0, std::max<std::size_t>(real.rfind('/'), 1));
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
  if (Result<void, std::string> ok = requireOwnedAndNotShared(folder, st); !ok) return ok;
  if (stat(real.c_str(), &st) != 0) return real + ": " + std::strerror(errno);
  // A FIFO would block the opening thread for good.
  if (!S_ISREG(st.st_mode)) return real + ": not a regular file";
  return requireOwnedAndNotShared(real, st);
}

// The module at its fixed place relative to this executable's real path,
// never at a place the environment or a search path chooses.
Result<DesktopBackends, std::string> openBesideExecutable() {
#if defined(__linux__)
  std::string executable(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", executable.data(), executable.size());
    if (length < 0) return std::string("cannot read /proc/self/exe: ") + std::strerror(errno);
    if (static_cast<std::size_t>(length) < executable.size()) {
      executable.resize(static_cast<std::size_t>(length));
      break;
    }
    executable.resize(executable.size() * 2);
  }
  return openDesktopBackends(executable.substr(0, executable.rfind('/') + 1) +
                             VK_DESKTOP_BACKENDS_FROM_EXECUTABLE);
#else
  return std::string("cannot find the host executable on this system");
#endif
}

}  // namespace

const Result<DesktopBackends, std::string>& systemBackends() {
  static const Result<DesktopBackends, std::string> backends = [] {
    Result<DesktopBackends, std::string> opened = openBesideExecutable();
    if (!opened) {
      const std::string line = "[vellumkeep-native] biometric and keychain backends unavailable: " +
                               opened.error() + "\n";
      // Nothing to do when standard error fails: the bridge answers anyway.
      (void)!::write(STDERR_FILENO, line.data(), line.size());
    }
    return opened;
  }();
  return backends;
}

Result<DesktopBackends, std::string> openDesktopBackends(const std::string& path) {
  // Its real path: the file checked is the file opened, whatever links
  // lead there.
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return path + ": " + std::strerror(errno);
  const std::string real(resolved.get());
  if (Result<void, std::string> trusted = requireOnlyTrustedWriters(real); !trusted) {
    return std::move(trusted).error();
  }
  // Never closed, even when refused: its initialisers have run, and the
  // libraries it pulled in may not survive being unloaded.
  void* module = dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return std::string(dlerror());
  const auto* release = static_cast<const char*>(dlsym(module, kBackendsReleaseSymbol));
  DesktopBackends backends{
      reinterpret_cast<MakePlatformFunction>(dlsym(module, kMakePlatformSymbol)),
      reinterpret_cast<MakeKeychainFunction>(dlsym(module, kMakeKeychainSymbol))};
  if (release == nullptr || backends.makePlatform == nullptr || backends.makeKeychain == nullptr) {
    return real + ": not a backends module";
  }
  if (release != kBackendsRelease) {
    return real + ": built for release " + release + ", not " + std::string(kBackendsRelease);
  }
  return backends;
}

}  // namespace vk::biometric::linux_backend

#include "tools/own_installation.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cerrno>
#include <cstdint>
#include <vector>

#include "tools/anchored_files.h"
#include "tools/host_manifest.h"

namespace vk {
namespace {

// `relative` taken from `folder`, with ".." climbing by the text.
std::string resolve_from(std::string folder, std::string_view relative) {
  while (!relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string_view part = relative.substr(0, slash);
    if (part == "..") folder = parent_folder(folder);
    else if (!part.empty() && part != ".") folder = join_below(folder, part);
    if (slash == std::string_view::npos) break;
    relative.remove_prefix(slash + 1);
  }
  return folder;
}

}  // namespace

std::string real_path(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

Result<std::string> own_executable_path() {
#if defined(__APPLE__)
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
    return Error("cannot find the installer's own path");
  }
  return real_path(buffer.data());
#else
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
    return Error::from_errno(length < 0 ? errno : ENAMETOOLONG)
        .prefixed("cannot find the installer's own path: ");
  }
  return std::string(buffer, static_cast<std::size_t>(length));
#endif
}

OwnHost own_host(std::string_view installer, const HostLayout& layout) {
  const std::string folder = parent_folder(installer);
  if (!layout.build_tree_folder.empty() &&
      real_path(std::string(layout.build_tree_folder)) == folder) {
    return {resolve_from(folder, layout.build_tree), true};
  }
  return {resolve_from(folder, layout.installed), false};
}

}  // namespace vk

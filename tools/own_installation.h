// The host of the installer's own installation: the one program the
// installer registers when it is not told another.
#pragma once

#include <string>
#include <string_view>

#include "native_messaging/result.h"

namespace vk {

// Where the host lies relative to the installer, set at build time: the
// installed layout's path, and the build tree's (with the folder the
// installer is built in, which tells the two apart).
struct HostLayout {
  std::string_view installed;          // from the installed installer's folder
  std::string_view build_tree_folder;  // the folder the installer is built in
  std::string_view build_tree;         // from that folder to the built host
};

struct OwnHost {
  std::string path;
  bool build_tree = false;  // the host of the build tree the installer runs from
};

// The real path of the running program.
Result<std::string> own_executable_path();

// `path` with links, "." and ".." resolved; as it is when it cannot be.
std::string real_path(const std::string& path);

// The host that belongs with the installer at `installer` (a real path).
OwnHost own_host(std::string_view installer, const HostLayout& layout);

}  // namespace vk

// vk-install-host-manifest: registers vellumkeep-native with browsers by
// writing, listing, repairing and removing their native-messaging host
// manifests. What it knows from its build is set here.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/installer.h"

namespace {

// "a,b" as its items.
std::vector<std::string> split_list(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (comma != 0) items.emplace_back(list.substr(0, comma));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  const vk::InstallerDefaults defaults{
      split_list(VK_CHROME_EXTENSION_IDS),
      split_list(VK_FIREFOX_EXTENSION_IDS),
      {VK_HOST_FROM_INSTALLER, VK_BUILD_TREE_INSTALLER_DIR, VK_BUILD_TREE_HOST_FROM_INSTALLER}};
  return vk::run_installer(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)),
                           defaults);
}

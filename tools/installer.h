// vk-install-host-manifest's commands: install, list, repair and remove the
// manifests that register vellumkeep-native with browsers.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "tools/own_installation.h"

namespace vk {

// What the installer knows from its build: the extension IDs it allows
// when none is given, and where the host of its own installation is.
struct InstallerDefaults {
  std::vector<std::string> chrome_extension_ids;
  std::vector<std::string> firefox_extension_ids;
  HostLayout host_layout;
};

// Runs the command line `args` (after the program's name); returns the exit
// status: 0, 1 when something could not be done, 2 for a usage error or a
// refusal before anything was changed.
int run_installer(std::span<char* const> args, const InstallerDefaults& defaults);

}  // namespace vk

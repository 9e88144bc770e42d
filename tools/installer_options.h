// The command line of vk-install-host-manifest.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "native_messaging/result.h"
#include "tools/host_manifest.h"
#include "tools/manifest_inventory.h"

namespace vk {

enum class Command { install, list, repair, remove };

struct InstallerOptions {
  Command command = Command::install;
  std::vector<ChosenBrowser> browsers;
  std::optional<std::string> manifest_dir;
  std::optional<ManifestFormat> format;
  std::optional<Scope> scope;
  Os os = kThisOs;
  std::optional<std::string> home;
  std::string root = "/";
  std::optional<std::string> host_path;
  std::string name;
  std::string description;
  std::vector<std::string> allowed_origins;
  std::vector<std::string> allowed_extensions;
  bool dry_run = false;
  bool force = false;
  bool replace_origins = false;
  bool lib64 = false;
  bool help = false;
  bool version = false;
};

// The options in `args` (the arguments after the program's name).
Result<InstallerOptions> parse_installer_options(std::span<char* const> args);

// The --help text.
std::string installer_usage();

}  // namespace vk

#include "tools/manifest_inventory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>

#include "tools/terminal_text.h"

namespace vk {
namespace {

// $HOME when set, else the passwd entry of the real user.
std::string default_home() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 512);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

std::size_t component_count(std::string_view path) {
  std::size_t count = 0;
  bool in_component = false;
  for (char c : path) {
    if (c != '/' && !in_component) ++count;
    in_component = c != '/';
  }
  return count;
}

// Whether the program at `path` could be started: "missing", "not
// executable" (for a bundle, which executable to name), or nothing.
std::optional<std::string> program_problem(const std::string& path) {
  struct stat info {};
  if (path.empty() || path.front() != '/' || stat(path.c_str(), &info) != 0) return "missing";
  if (S_ISDIR(info.st_mode) && bundle_executable_path(path) != path) {
    return "a bundle: name its executable " + bundle_executable_path(path);
  }
  if (!S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0) return "not executable";
  return std::nullopt;
}

// The text of the wrapper at `path`, read as safely as a manifest.
std::optional<std::string> read_wrapper(const std::string& path, const Places& places) {
  const std::string folder_path = parent_folder(path);
  auto folder = open_folder_below(anchor_of(folder_path, places).base, folder_path);
  if (!folder || !*folder) return std::nullopt;
  auto text = read_small_file((*folder)->get(), last_component(path), kManifestLimit);
  if (!text) return std::nullopt;
  return std::move(*text);
}

void mark(InstalledManifest& found, Health health, std::string problem) {
  found.health = health;
  found.problem = std::move(problem);
}

// Reads and judges the manifest `file` in the open `folder`.
void inspect(InstalledManifest& found, int folder, std::string_view file, const Places& places) {
  auto text = read_small_file(folder, file, kManifestLimit);
  if (!text) {
    return mark(found, Health::unreadable, describe_read_failure(text.error(), kManifestLimit));
  }
  auto value = parse_json(*text);
  if (!value) return mark(found, Health::unreadable, "not JSON: " + value.error().display());
  found.manifest = *value;
  const auto host = value->member("path");
  found.host = host ? host->as_string() : std::nullopt;
  if (!found.host) return mark(found, Health::unreadable, "no \"path\"");

  // The allow-list the folder's browsers read first: the other one is
  // ignored where both are present.
  const ManifestFolder& where = *found.folder;
  const ManifestFormat first = where.format.value_or(ManifestFormat::chromium);
  for (ManifestFormat format : {first, first == ManifestFormat::chromium ? ManifestFormat::firefox
                                                                        : ManifestFormat::chromium}) {
    if (!found.format && value->member(allow_list_key(format))) found.format = format;
  }
  if (where.format && found.format != where.format) {
    const std::string expected(format_name(*where.format));
    return mark(found, Health::wrong_format,
                found.format ? std::string(format_name(*found.format)) + " format in a " + expected +
                                   " folder"
                             : "no " + std::string(allow_list_key(*where.format)));
  }

  const std::string& host_path = *found.host;
  if (where.sandbox && !sandbox_can_start(*where.sandbox, host_path)) {
    return mark(found, Health::host_broken,
                "outside the " + std::string(sandbox_kind_name(where.sandbox->kind)));
  }
  const std::string on_disk = where.under_root ? join_below(places.base.root, host_path) : host_path;
  if (auto problem = program_problem(on_disk)) return mark(found, Health::host_broken, *problem);
  // A wrapper of ours starts the real host outside the sandbox.
  if (where.sandbox && host_path == flatpak_wrapper_path(*where.sandbox)) {
    if (auto wrapper = read_wrapper(host_path, places)) {
      found.wrapper_host = flatpak_wrapper_host(*wrapper);
      if (found.wrapper_host) {
        if (auto problem = program_problem(*found.wrapper_host)) {
          return mark(found, Health::host_broken, *problem);
        }
      }
    }
  }
}

}  // namespace

Places find_places(Os os, const std::optional<std::string>& home, std::string root) {
  Places places;
  places.os = os;
  places.base.home = home ? *home : default_home();
  places.base.root = std::move(root);
  // Another home is staged as a fresh login sees it: the variables belong to this session.
  if (!home && os == Os::linux_os) {
    places.config =
        chromium_config_home(std::getenv("CHROME_CONFIG_HOME"), std::getenv("XDG_CONFIG_HOME"));
    places.base.config_home = places.config.path;
  }
  struct stat info {};
  if (!places.base.home.empty() && stat(places.base.home.c_str(), &info) == 0) {
    places.home_uid = info.st_uid;
    places.home_gid = info.st_gid;
  }
  return places;
}

Anchor anchor_of(std::string_view directory, const Places& places) {
  const std::string& home = places.base.home;
  const std::string& config = places.base.config_home;
  Anchor anchor;
  if (!config.empty() && path_is_within(directory, config)) {
    anchor.base = config;
  } else if (!home.empty() && path_is_within(directory, home)) {
    anchor.base = home;
  } else {
    anchor.base = path_is_within(directory, places.base.root) ? places.base.root : "/";
    anchor.checked_below = anchor.base;
    return anchor;
  }
  anchor.entries.folder_mode = 0700;
  if (places.home_uid) anchor.trusted.push_back(*places.home_uid);
  if (geteuid() == 0 && places.home_uid && *places.home_uid != 0) {
    anchor.entries.uid = places.home_uid;
    anchor.entries.gid = places.home_gid;
  }
  return anchor;
}

std::string folder_label(const ManifestFolder& folder) {
  return std::string(folder.browser != nullptr ? folder.browser->name : "custom") + " " +
         std::string(folder.scope);
}

std::vector<ChosenBrowser> all_browsers() {
  std::vector<ChosenBrowser> browsers;
  for (const BrowserInfo& browser : known_browsers()) browsers.push_back({&browser, false});
  return browsers;
}

std::vector<ManifestFolder> browser_folders(std::span<const ChosenBrowser> browsers,
                                            const Places& places, std::span<const Scope> scopes,
                                            std::vector<Error>* errors) {
  const std::vector<ChosenBrowser> every = all_browsers();
  if (browsers.empty()) browsers = every;
  std::vector<ManifestFolder> folders;
  for (const ChosenBrowser& chosen : browsers) {
    const BrowserInfo& browser = *chosen.browser;
    for (Scope scope : scopes) {
      auto directories = manifest_directories(browser, places.os, scope, places.base);
      if (!directories) {
        if (chosen.by_name && errors != nullptr) errors->push_back(std::move(directories).error());
        continue;
      }
      ManifestFolder folder;
      folder.browser = &browser;
      folder.scope = scope_name(scope);
      folder.format = browser.format;
      folder.directories = std::move(directories).value();
      folder.under_root = scope == Scope::system;
      // A per-user folder is the browser's own from its first component
      // (google-chrome/NativeMessagingHosts); a machine-wide one from its
      // last two (/etc/opt/chrome/native-messaging-hosts).
      const std::string_view own =
          places.os == Os::linux_os ? browser.linux_user : browser.macos_user;
      folder.own_folders = scope == Scope::user ? component_count(own) : 2;
      folders.push_back(std::move(folder));
    }
  }
  return folders;
}

std::vector<ManifestFolder> flatpak_folders(std::span<const ChosenBrowser> browsers,
                                            const Places& places) {
  std::vector<ManifestFolder> folders;
  if (places.os != Os::linux_os) return folders;
  const Scope user[] = {Scope::user};
  for (const ManifestFolder& named : browser_folders(browsers, places, user, nullptr)) {
    if (auto flatpak = flatpak_of(*named.browser, places.base.home)) {
      ManifestFolder folder{named.browser, "flatpak", named.format,
                            {flatpak_manifest_directory(*named.browser, *flatpak)}, flatpak};
      folder.own_folders = named.own_folders;
      folders.push_back(std::move(folder));
    }
  }
  return folders;
}

std::vector<ManifestFolder> every_browser_folder(const Places& places) {
  const Scope scopes[] = {Scope::user, Scope::system};
  std::vector<ManifestFolder> folders = browser_folders({}, places, scopes, nullptr);
  for (ManifestFolder& flatpak : flatpak_folders({}, places)) folders.push_back(std::move(flatpak));
  return folders;
}

ManifestFolder named_folder(std::string_view directory, std::optional<ManifestFormat> format,
                            const Places& places) {
  ManifestFolder folder;
  folder.scope = "dir";
  folder.format = format;
  folder.directories = {std::string(directory)};
  const std::string& home = places.base.home;
  if (!home.empty() && path_is_within(directory, home)) {
    if (places.os == Os::linux_os) folder.sandbox = sandbox_of(directory, home);
    if (folder.sandbox) folder.scope = sandbox_kind_name(folder.sandbox->kind);
    return folder;
  }
  folder.directories.front() = join_below(places.base.root, directory);
  folder.under_root = true;
  return folder;
}

std::vector<InstalledManifest> find_installed_manifests(std::span<const ManifestFolder> folders,
                                                        std::string_view host_name,
                                                        const Places& places) {
  std::vector<InstalledManifest> found;
  std::set<std::string> seen;
  const std::string file = manifest_file_name(host_name);
  for (const ManifestFolder& folder : folders) {
    for (const std::string& directory : folder.directories) {
      const std::string path = join_below(directory, file);
      if (!seen.insert(path).second) continue;
      auto opened = open_folder_below(anchor_of(directory, places).base, directory);
      InstalledManifest entry;
      entry.folder = &folder;
      entry.path = path;
      if (!opened) {
        mark(entry, Health::unreadable, opened.error().text());
      } else if (!*opened || !has_entry((*opened)->get(), file)) {
        continue;
      } else {
        inspect(entry, (*opened)->get(), file, places);
      }
      found.push_back(std::move(entry));
    }
  }
  return found;
}

std::string describe_manifest(const InstalledManifest& found) {
  std::string text;
  if (found.host) {
    text = "-> " + printable(*found.host);
    if (found.wrapper_host) text += " -> " + printable(*found.wrapper_host);
  }
  if (!found.problem.empty()) {
    if (!text.empty()) text += ' ';
    text += "(" + printable(found.problem) + ")";
  }
  return text;
}

}  // namespace vk

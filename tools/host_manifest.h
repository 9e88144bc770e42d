// Where each browser looks for a native-messaging host manifest, and what
// the manifest says. Pure functions: the installer does the disk work.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/result.h"

namespace vk {

// Which manifest a browser reads: the Chromium family's, which allows
// extensions by origin, or Firefox's, which allows add-ons by ID.
enum class ManifestFormat { chromium, firefox };

// The name browsers know the host by, unless the installer is given another.
inline constexpr std::string_view kDefaultHostName = "com.tarnwick.vellumkeep";

// Operating systems whose manifest locations are known.
enum class Os { linux_os, macos };
inline constexpr Os kThisOs =
#ifdef __APPLE__
    Os::macos;
#else
    Os::linux_os;
#endif

// Per-user manifests or the machine-wide ones.
enum class Scope { user, system };

// What a snap-packaged browser can do with a host outside the snap.
enum class SnapHosts {
  none,    // not packaged as a snap
  portal,  // reads the normal manifest through the desktop portal, which starts the host
  never,   // cannot start a native-messaging host at all
};

// One browser the installer knows by name. Folders are relative: Linux
// per-user folders of the Chromium family to the config home ($CHROME_CONFIG_HOME,
// $XDG_CONFIG_HOME or ~/.config), those of the Firefox family to the home,
// macOS per-user folders to ~/Library/Application Support, machine-wide ones
// to the root. An empty folder means none is established, and the installer
// refuses rather than guess: a manifest in a folder no browser reads fails
// silently.
struct BrowserInfo {
  std::string_view name;          // the --browser value
  std::string_view display_name;  // as users know it
  ManifestFormat format;
  std::string_view linux_user;
  std::string_view linux_system;
  // Read by builds for lib64 systems; written only where that build lives.
  std::string_view linux_system_alternative;
  std::string_view macos_user;
  std::string_view macos_system;
  std::string_view flatpak_id;  // its Flathub application ID, if it has one
  std::string_view snap_name;
  SnapHosts snap_hosts;
};

// Every browser the installer knows, in the order it reports them.
std::span<const BrowserInfo> known_browsers();
// The browser named `name`, if it is one.
const BrowserInfo* find_browser(std::string_view name);
// "chrome, chrome-beta, ..., librewolf": every name, for messages.
std::string browser_names();

// "chromium" or "firefox".
std::string_view format_name(ManifestFormat format);
std::optional<ManifestFormat> parse_format(std::string_view name);
// "linux" or "macos".
std::string_view os_name(Os os);
std::optional<Os> parse_os(std::string_view name);
// "user" or "system".
std::string_view scope_name(Scope scope);

// The directories paths are built under: a home for per-user manifests, a
// root prefix for machine-wide ones (so packages can stage into a tree), and
// the config home of the Chromium family on Linux (empty: home/.config).
struct LocationBase {
  std::string home;
  std::string root = "/";
  std::string config_home;
};

// Where the Chromium family keeps its per-user folders on Linux, and which
// variable said so.
struct ConfigHome {
  std::string path;                       // empty: home/.config
  std::string_view variable;              // "CHROME_CONFIG_HOME", "XDG_CONFIG_HOME" or empty
  std::vector<std::string_view> ignored;  // variables set to a relative path
};
// $CHROME_CONFIG_HOME wins over $XDG_CONFIG_HOME, as in the browsers
// themselves; empty values are unset and relative ones are ignored, as the
// XDG base-directory rules say. Null means the variable is not set.
ConfigHome chromium_config_home(const char* chrome_config_home, const char* xdg_config_home);

// Directories where `browser` reads manifests on `os` in `scope`, first the
// one the installer writes to. Fails for a browser that has no established
// folder there.
Result<std::vector<std::string>> manifest_directories(const BrowserInfo& browser, Os os,
                                                      Scope scope, const LocationBase& base);

// "<name>.json".
std::string manifest_file_name(std::string_view host_name);

// Joins two path parts with exactly one "/" between them, so that an
// absolute `part` lands below `base` (a staging root, a home).
std::string join_below(std::string_view base, std::string_view part);
// True when `path` is `directory` or lies below it, judged by the text alone:
// a path with "." or ".." components is never inside, so none can climb out.
bool path_is_within(std::string_view path, std::string_view directory);

// What goes into a manifest besides the browser-specific key.
struct ManifestContent {
  std::string name;
  std::string description;
  std::string host_path;
  std::vector<std::string> allowed_origins;     // Chromium family
  std::vector<std::string> allowed_extensions;  // Firefox
};

// Lowercase letters, digits, "_" and "." with no leading, trailing or
// doubled dot: the rule both browser families accept.
Result<void> validate_host_name(std::string_view name);
// An absolute path in valid UTF-8 (a manifest is JSON text).
Result<void> validate_host_path(std::string_view path);
// The executable a browser starts for `path`: on macOS the host is an
// app-like bundle, and "…/vellumkeep-native.app" (with or without a final
// "/") stands for "…/vellumkeep-native.app/Contents/MacOS/vellumkeep-native".
// Any other path is itself.
std::string bundle_executable_path(std::string_view path);
// "chrome-extension://" followed by a 32-letter ID in a–p and "/".
Result<void> validate_allowed_origin(std::string_view origin);
// The origin of the Chromium-family extension with ID `id`.
std::string extension_origin(std::string_view id);
// A Firefox add-on ID as Firefox accepts one: name@domain (letters, digits,
// "-", "." and "_"; the name may be empty) or a {GUID}.
Result<void> validate_allowed_extension(std::string_view id);
// Valid UTF-8; the browsers show it, nothing else reads it.
Result<void> validate_description(std::string_view description);

// The manifest in `format`, as a JSON object.
JsonValue build_manifest(ManifestFormat format, const ManifestContent& content);
// The manifest's file text: the compact JSON and a final newline.
std::string manifest_text(ManifestFormat format, const ManifestContent& content);
// The same for a manifest already built or read.
std::string manifest_text(const JsonValue& manifest);

// The member that holds the allow-list of `format`'s manifests.
std::string_view allow_list_key(ManifestFormat format);
// The strings of `manifest`'s allow-list for `format`: none when it has none.
std::vector<std::string> allow_list(const JsonValue& manifest, ManifestFormat format);

}  // namespace vk

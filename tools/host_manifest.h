// Where each browser looks for a native-messaging host manifest, and what
// the manifest says. Pure functions: the installer does the disk work.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/result.h"

namespace vk {

// The browsers the installer knows; the first five read the Chromium format.
enum class Browser { chrome, chromium, brave, edge, vivaldi, firefox };

// Every browser, in the order the installer reports them.
inline constexpr Browser kAllBrowsers[] = {Browser::chrome, Browser::chromium, Browser::brave,
                                           Browser::edge,   Browser::vivaldi,  Browser::firefox};

// Operating systems whose manifest locations are known.
enum class Os { linux_os, macos };

// Per-user manifests or the machine-wide ones.
enum class Scope { user, system };

// The browser's option name ("chrome", ..., "firefox").
std::string_view browser_name(Browser browser);
// The browser named `name`, if it is one.
std::optional<Browser> parse_browser(std::string_view name);
// "linux" or "macos".
std::string_view os_name(Os os);
std::optional<Os> parse_os(std::string_view name);
// "user" or "system".
std::string_view scope_name(Scope scope);
// True for the browsers that take "allowed_origins" instead of "allowed_extensions".
bool is_chromium_family(Browser browser);

// The directories paths are built under: a home for per-user manifests, a
// root prefix for machine-wide ones (so packages can stage into a tree).
struct LocationBase {
  std::string home;
  std::string root = "/";
};

// Directories where `browser` reads manifests on `os` in `scope`, first the
// one the installer writes to. Firefox on Linux reads /usr/lib or, when built
// for lib64 systems, /usr/lib64; both are listed. Fails for a browser that
// documents no such location.
Result<std::vector<std::string>> manifest_directories(Browser browser, Os os, Scope scope,
                                                      const LocationBase& base);

// "<name>.json".
std::string manifest_file_name(std::string_view host_name);

// Joins two path parts with exactly one "/" between them.
std::string join_path(std::string_view base, std::string_view part);

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
// "chrome-extension://" followed by a 32-letter ID in a–p and "/".
Result<void> validate_allowed_origin(std::string_view origin);
// A non-empty Firefox add-on ID in valid UTF-8.
Result<void> validate_allowed_extension(std::string_view id);
// Valid UTF-8; the browsers show it, nothing else reads it.
Result<void> validate_description(std::string_view description);

// The manifest `browser` reads, as a JSON object.
JsonValue build_manifest(Browser browser, const ManifestContent& content);
// The manifest's file text: the compact JSON and a final newline.
std::string manifest_text(Browser browser, const ManifestContent& content);

}  // namespace vk

#include "tools/host_manifest.h"

#include <cstddef>

#include "unicode/utf8.h"
#include "tools/terminal_text.h"

namespace vk {
namespace {

constexpr std::string_view kChromeExtensionScheme = "chrome-extension://";
constexpr std::size_t kExtensionIdLength = 32;

JsonArray string_array(const std::vector<std::string>& items) {
  JsonArray array;
  array.reserve(items.size());
  for (const auto& item : items) array.emplace_back(item);
  return array;
}

// The one table of browser knowledge. docs/browsers.md says how well each
// folder is established; keep the two in step.
constexpr std::string_view kSupport = "Library/Application Support";
constexpr BrowserInfo kBrowsers[] = {
    {"chrome", "Google Chrome", ManifestFormat::chromium, "google-chrome/NativeMessagingHosts",
     "etc/opt/chrome/native-messaging-hosts", "", "Google/Chrome/NativeMessagingHosts",
     "Library/Google/Chrome/NativeMessagingHosts", "com.google.Chrome", "", SnapHosts::none},
    // Chrome's channels share its machine-wide folder.
    {"chrome-beta", "Google Chrome Beta", ManifestFormat::chromium,
     "google-chrome-beta/NativeMessagingHosts", "etc/opt/chrome/native-messaging-hosts", "",
     "Google/Chrome Beta/NativeMessagingHosts", "Library/Google/Chrome/NativeMessagingHosts", "",
     "", SnapHosts::none},
    {"chrome-dev", "Google Chrome Dev", ManifestFormat::chromium,
     "google-chrome-unstable/NativeMessagingHosts", "etc/opt/chrome/native-messaging-hosts", "",
     "Google/Chrome Dev/NativeMessagingHosts", "Library/Google/Chrome/NativeMessagingHosts", "", "",
     SnapHosts::none},
    {"chrome-canary", "Google Chrome Canary", ManifestFormat::chromium, "", "", "",
     "Google/Chrome Canary/NativeMessagingHosts", "Library/Google/Chrome/NativeMessagingHosts", "",
     "", SnapHosts::none},
    {"chromium", "Chromium", ManifestFormat::chromium, "chromium/NativeMessagingHosts",
     "etc/chromium/native-messaging-hosts", "", "Chromium/NativeMessagingHosts",
     "Library/Application Support/Chromium/NativeMessagingHosts", "org.chromium.Chromium",
     "chromium", SnapHosts::never},
    {"brave", "Brave", ManifestFormat::chromium, "BraveSoftware/Brave-Browser/NativeMessagingHosts",
     "", "", "BraveSoftware/Brave-Browser/NativeMessagingHosts", "", "com.brave.Browser", "",
     SnapHosts::none},
    {"brave-beta", "Brave Beta", ManifestFormat::chromium,
     "BraveSoftware/Brave-Browser-Beta/NativeMessagingHosts", "", "",
     "BraveSoftware/Brave-Browser-Beta/NativeMessagingHosts", "", "", "", SnapHosts::none},
    {"brave-nightly", "Brave Nightly", ManifestFormat::chromium,
     "BraveSoftware/Brave-Browser-Nightly/NativeMessagingHosts", "", "",
     "BraveSoftware/Brave-Browser-Nightly/NativeMessagingHosts", "", "", "", SnapHosts::none},
    {"edge", "Microsoft Edge", ManifestFormat::chromium, "microsoft-edge/NativeMessagingHosts",
     "etc/opt/edge/native-messaging-hosts", "", "Microsoft Edge/NativeMessagingHosts",
     "Library/Microsoft/Edge/NativeMessagingHosts", "com.microsoft.Edge", "", SnapHosts::none},
    {"vivaldi", "Vivaldi", ManifestFormat::chromium, "vivaldi/NativeMessagingHosts", "", "",
     "Vivaldi/NativeMessagingHosts", "", "com.vivaldi.Vivaldi", "", SnapHosts::none},
    {"vivaldi-snapshot", "Vivaldi Snapshot", ManifestFormat::chromium,
     "vivaldi-snapshot/NativeMessagingHosts", "", "", "", "", "", "", SnapHosts::none},
    {"opera", "Opera", ManifestFormat::chromium, "opera/NativeMessagingHosts", "", "",
     "com.operasoftware.Opera/NativeMessagingHosts", "", "", "", SnapHosts::none},
    {"thorium", "Thorium", ManifestFormat::chromium, "thorium/NativeMessagingHosts", "", "",
     "Thorium/NativeMessagingHosts", "", "", "", SnapHosts::none},
    {"firefox", "Firefox", ManifestFormat::firefox, ".mozilla/native-messaging-hosts",
     "usr/lib/mozilla/native-messaging-hosts", "usr/lib64/mozilla/native-messaging-hosts",
     "Mozilla/NativeMessagingHosts", "Library/Application Support/Mozilla/NativeMessagingHosts",
     "org.mozilla.firefox", "firefox", SnapHosts::portal},
    {"librewolf", "LibreWolf", ManifestFormat::firefox, ".librewolf/native-messaging-hosts", "", "",
     "", "", "io.gitlab.librewolf-community", "", SnapHosts::none},
};

// An absolute path, as the XDG base-directory rules demand of their variables.
std::optional<std::string> absolute_variable(const char* value, std::string_view name,
                                             std::vector<std::string_view>& ignored) {
  if (value == nullptr || *value == '\0') return std::nullopt;
  if (*value != '/') {
    ignored.push_back(name);
    return std::nullopt;
  }
  return std::string(value);
}

}  // namespace

std::span<const BrowserInfo> known_browsers() { return kBrowsers; }

const BrowserInfo* find_browser(std::string_view name) {
  for (const BrowserInfo& browser : kBrowsers) {
    if (browser.name == name) return &browser;
  }
  return nullptr;
}

std::string browser_names() {
  std::string names;
  for (const BrowserInfo& browser : kBrowsers) {
    if (!names.empty()) names += ", ";
    names += browser.name;
  }
  return names;
}

std::string_view format_name(ManifestFormat format) {
  return format == ManifestFormat::chromium ? "chromium" : "firefox";
}

std::optional<ManifestFormat> parse_format(std::string_view name) {
  if (name == "chromium") return ManifestFormat::chromium;
  if (name == "firefox") return ManifestFormat::firefox;
  return std::nullopt;
}

std::string_view os_name(Os os) { return os == Os::linux_os ? "linux" : "macos"; }

std::optional<Os> parse_os(std::string_view name) {
  if (name == "linux") return Os::linux_os;
  if (name == "macos") return Os::macos;
  return std::nullopt;
}

std::string_view scope_name(Scope scope) { return scope == Scope::user ? "user" : "system"; }

std::string join_below(std::string_view base, std::string_view part) {
  while (!part.empty() && part.front() == '/') part.remove_prefix(1);
  std::string joined(base);
  if (joined.empty() || joined.back() != '/') joined += '/';
  joined += part;
  return joined;
}

bool path_is_within(std::string_view path, std::string_view directory) {
  while (directory.size() > 1 && directory.back() == '/') directory.remove_suffix(1);
  if (!path.starts_with(directory)) return false;
  std::string_view rest = path.substr(directory.size());
  if (!rest.empty() && rest.front() != '/' && directory != "/") return false;
  while (!rest.empty()) {
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    const std::string_view component = rest.substr(0, rest.find('/'));
    if (component == "." || component == "..") return false;
    rest.remove_prefix(component.size());
  }
  return true;
}

ConfigHome chromium_config_home(const char* chrome_config_home, const char* xdg_config_home) {
  ConfigHome config;
  auto chrome = absolute_variable(chrome_config_home, "CHROME_CONFIG_HOME", config.ignored);
  auto xdg = absolute_variable(xdg_config_home, "XDG_CONFIG_HOME", config.ignored);
  if (chrome) {
    config.path = std::move(*chrome);
    config.variable = "CHROME_CONFIG_HOME";
  } else if (xdg) {
    config.path = std::move(*xdg);
    config.variable = "XDG_CONFIG_HOME";
  }
  return config;
}

Result<std::vector<std::string>> manifest_directories(const BrowserInfo& browser, Os os,
                                                      Scope scope, const LocationBase& base) {
  const bool on_linux = os == Os::linux_os;
  std::vector<std::string> directories;
  if (scope == Scope::user) {
    const std::string_view folder = on_linux ? browser.linux_user : browser.macos_user;
    if (folder.empty()) {
      return Error(std::string(browser.display_name) + " has no established per-user folder on " +
                   std::string(os_name(os)) + "; name it with --manifest-dir");
    }
    if (base.home.empty()) return Error("no home directory: set HOME or pass --home");
    std::string parent;
    if (!on_linux) parent = join_below(base.home, kSupport);
    else if (browser.format == ManifestFormat::firefox) parent = base.home;
    else if (!base.config_home.empty()) parent = base.config_home;
    else parent = join_below(base.home, ".config");
    directories.push_back(join_below(parent, folder));
    return directories;
  }
  const std::string_view folders[] = {on_linux ? browser.linux_system : browser.macos_system,
                                      on_linux ? browser.linux_system_alternative : ""};
  for (std::string_view folder : folders) {
    if (!folder.empty()) directories.push_back(join_below(base.root, folder));
  }
  if (directories.empty()) {
    return Error(std::string(browser.display_name) +
                 " documents no system-wide native-messaging location on " +
                 std::string(os_name(os)) + "; install it per user");
  }
  return directories;
}

std::string manifest_file_name(std::string_view host_name) {
  return std::string(host_name) + ".json";
}

Result<void> validate_host_name(std::string_view name) {
  const auto invalid = [&] {
    return Error("invalid host name \"" + std::string(name) +
                 "\": use lowercase letters, digits, '_' and single dots inside");
  };
  if (name.empty() || name.front() == '.' || name.back() == '.') return invalid();
  char previous = '\0';
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    if (!allowed || (c == '.' && previous == '.')) return invalid();
    previous = c;
  }
  return {};
}

Result<void> validate_host_path(std::string_view path) {
  if (path.empty() || path.front() != '/') {
    return Error("host path must be absolute: \"" + std::string(path) + "\"");
  }
  if (!is_valid_utf8(path)) return Error("host path is not valid UTF-8");
  return {};
}

std::string bundle_executable_path(std::string_view path) {
  constexpr std::string_view kBundleSuffix = ".app";
  std::string_view bundle = path;
  while (bundle.size() > 1 && bundle.back() == '/') bundle.remove_suffix(1);
  const std::size_t slash = bundle.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? bundle : bundle.substr(slash + 1);
  if (name.size() <= kBundleSuffix.size() || !name.ends_with(kBundleSuffix)) {
    return std::string(path);
  }
  // The bundle's executable is named after it (CFBundleExecutable).
  return std::string(bundle) + "/Contents/MacOS/" +
         std::string(name.substr(0, name.size() - kBundleSuffix.size()));
}

Result<void> validate_allowed_origin(std::string_view origin) {
  const auto invalid = [&] {
    return Error("invalid allowed origin \"" + std::string(origin) +
                 "\": expected chrome-extension://<32 letters a-p>/");
  };
  if (!origin.starts_with(kChromeExtensionScheme)) return invalid();
  std::string_view rest = origin.substr(kChromeExtensionScheme.size());
  if (rest.size() != kExtensionIdLength + 1 || rest.back() != '/') return invalid();
  for (char c : rest.substr(0, kExtensionIdLength)) {
    if (c < 'a' || c > 'p') return invalid();
  }
  return {};
}

std::string extension_origin(std::string_view id) {
  return std::string(kChromeExtensionScheme) + std::string(id) + "/";
}

Result<void> validate_allowed_extension(std::string_view id) {
  if (id.empty()) return Error("empty Firefox extension ID");
  // Firefox's own rule: {GUID} in hex digits, or name@domain.
  const auto in = [](char c, std::string_view set) {
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return set.find(lower) != std::string_view::npos;
  };
  constexpr std::string_view kHex = "0123456789abcdef";
  constexpr std::string_view kWord = "abcdefghijklmnopqrstuvwxyz0123456789-._";
  bool valid = false;
  if (id.size() == 38 && id.front() == '{' && id.back() == '}') {
    valid = true;
    for (std::size_t i = 1; i + 1 < id.size(); ++i) {
      const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
      valid = valid && (dash ? id[i] == '-' : in(id[i], kHex));
    }
  } else if (const std::size_t at = id.find('@'); at != std::string_view::npos) {
    const std::string_view name = id.substr(0, at);
    const std::string_view domain = id.substr(at + 1);
    valid = !domain.empty();
    for (char c : name) valid = valid && in(c, kWord);
    for (char c : domain) valid = valid && in(c, kWord);
  }
  if (!valid) {
    return Error("invalid Firefox add-on ID \"" + printable(id) +
                 "\": expected name@domain or {GUID}");
  }
  return {};
}

Result<void> validate_description(std::string_view description) {
  if (!is_valid_utf8(description)) return Error("description is not valid UTF-8");
  return {};
}

JsonValue build_manifest(ManifestFormat format, const ManifestContent& content) {
  JsonObject manifest;
  manifest.set("name", JsonValue(content.name));
  manifest.set("description", JsonValue(content.description));
  manifest.set("path", JsonValue(content.host_path));
  manifest.set("type", JsonValue("stdio"));
  const auto& allowed = format == ManifestFormat::chromium ? content.allowed_origins
                                                           : content.allowed_extensions;
  manifest.set(std::string(allow_list_key(format)), string_array(allowed));
  return JsonValue(std::move(manifest));
}

std::string manifest_text(ManifestFormat format, const ManifestContent& content) {
  return manifest_text(build_manifest(format, content));
}

std::string manifest_text(const JsonValue& manifest) {
  std::string text = serialize_json(manifest);
  text += '\n';
  return text;
}

std::string_view allow_list_key(ManifestFormat format) {
  return format == ManifestFormat::chromium ? "allowed_origins" : "allowed_extensions";
}

std::vector<std::string> allow_list(const JsonValue& manifest, ManifestFormat format) {
  std::vector<std::string> items;
  const auto list = manifest.member(allow_list_key(format));
  const auto array = list ? list->as_array() : std::nullopt;
  if (!array) return items;
  for (const JsonValue& item : *array) {
    if (auto text = item.as_string()) items.push_back(std::move(*text));
  }
  return items;
}

}  // namespace vk

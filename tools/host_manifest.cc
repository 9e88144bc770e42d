#include "tools/host_manifest.h"

#include <cstddef>
#include <cstdint>

namespace vk {
namespace {

constexpr std::string_view kChromeExtensionScheme = "chrome-extension://";
constexpr std::size_t kExtensionIdLength = 32;

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

JsonArray string_array(const std::vector<std::string>& items) {
  JsonArray array;
  array.reserve(items.size());
  for (const auto& item : items) array.emplace_back(item);
  return array;
}

// Per-user directories, relative to the home directory.
std::string_view user_directory(Browser browser, Os os) {
  if (os == Os::linux_os) {
    switch (browser) {
      case Browser::chrome: return ".config/google-chrome/NativeMessagingHosts";
      case Browser::chromium: return ".config/chromium/NativeMessagingHosts";
      case Browser::brave: return ".config/BraveSoftware/Brave-Browser/NativeMessagingHosts";
      case Browser::edge: return ".config/microsoft-edge/NativeMessagingHosts";
      case Browser::vivaldi: return ".config/vivaldi/NativeMessagingHosts";
      case Browser::firefox: return ".mozilla/native-messaging-hosts";
    }
  }
  switch (browser) {
    case Browser::chrome: return "Library/Application Support/Google/Chrome/NativeMessagingHosts";
    case Browser::chromium: return "Library/Application Support/Chromium/NativeMessagingHosts";
    case Browser::brave:
      return "Library/Application Support/BraveSoftware/Brave-Browser/NativeMessagingHosts";
    case Browser::edge: return "Library/Application Support/Microsoft Edge/NativeMessagingHosts";
    case Browser::vivaldi: return "Library/Application Support/Vivaldi/NativeMessagingHosts";
    case Browser::firefox: return "Library/Application Support/Mozilla/NativeMessagingHosts";
  }
  return {};
}

// Machine-wide directories, relative to the root. Brave and Vivaldi publish
// none, and a guessed location would fail silently, so they have none here.
std::vector<std::string_view> system_directories(Browser browser, Os os) {
  if (os == Os::linux_os) {
    switch (browser) {
      case Browser::chrome: return {"etc/opt/chrome/native-messaging-hosts"};
      case Browser::chromium: return {"etc/chromium/native-messaging-hosts"};
      case Browser::edge: return {"etc/opt/edge/native-messaging-hosts"};
      case Browser::firefox:
        return {"usr/lib/mozilla/native-messaging-hosts", "usr/lib64/mozilla/native-messaging-hosts"};
      case Browser::brave:
      case Browser::vivaldi: return {};
    }
  }
  switch (browser) {
    case Browser::chrome: return {"Library/Google/Chrome/NativeMessagingHosts"};
    case Browser::chromium: return {"Library/Application Support/Chromium/NativeMessagingHosts"};
    case Browser::edge: return {"Library/Microsoft/Edge/NativeMessagingHosts"};
    case Browser::firefox: return {"Library/Application Support/Mozilla/NativeMessagingHosts"};
    case Browser::brave:
    case Browser::vivaldi: return {};
  }
  return {};
}

std::string_view browser_display_name(Browser browser) {
  switch (browser) {
    case Browser::chrome: return "Google Chrome";
    case Browser::chromium: return "Chromium";
    case Browser::brave: return "Brave";
    case Browser::edge: return "Microsoft Edge";
    case Browser::vivaldi: return "Vivaldi";
    case Browser::firefox: return "Firefox";
  }
  return {};
}

}  // namespace

std::string_view browser_name(Browser browser) {
  switch (browser) {
    case Browser::chrome: return "chrome";
    case Browser::chromium: return "chromium";
    case Browser::brave: return "brave";
    case Browser::edge: return "edge";
    case Browser::vivaldi: return "vivaldi";
    case Browser::firefox: return "firefox";
  }
  return {};
}

std::optional<Browser> parse_browser(std::string_view name) {
  for (Browser browser : kAllBrowsers) {
    if (browser_name(browser) == name) return browser;
  }
  return std::nullopt;
}

std::string_view os_name(Os os) { return os == Os::linux_os ? "linux" : "macos"; }

std::optional<Os> parse_os(std::string_view name) {
  if (name == "linux") return Os::linux_os;
  if (name == "macos") return Os::macos;
  return std::nullopt;
}

std::string_view scope_name(Scope scope) { return scope == Scope::user ? "user" : "system"; }

bool is_chromium_family(Browser browser) { return browser != Browser::firefox; }

std::string join_path(std::string_view base, std::string_view part) {
  while (!part.empty() && part.front() == '/') part.remove_prefix(1);
  std::string joined(base);
  if (joined.empty() || joined.back() != '/') joined += '/';
  joined += part;
  return joined;
}

Result<std::vector<std::string>> manifest_directories(Browser browser, Os os, Scope scope,
                                                      const LocationBase& base) {
  std::vector<std::string> directories;
  if (scope == Scope::user) {
    if (base.home.empty()) return Error("no home directory: set HOME or pass --home");
    directories.push_back(join_path(base.home, user_directory(browser, os)));
    return directories;
  }
  for (std::string_view relative : system_directories(browser, os)) {
    directories.push_back(join_path(base.root, relative));
  }
  if (directories.empty()) {
    return Error(std::string(browser_display_name(browser)) +
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

Result<void> validate_allowed_extension(std::string_view id) {
  if (id.empty()) return Error("empty Firefox extension ID");
  if (!is_valid_utf8(id)) return Error("Firefox extension ID is not valid UTF-8");
  return {};
}

Result<void> validate_description(std::string_view description) {
  if (!is_valid_utf8(description)) return Error("description is not valid UTF-8");
  return {};
}

JsonValue build_manifest(Browser browser, const ManifestContent& content) {
  JsonObject manifest;
  manifest.set("name", JsonValue(content.name));
  manifest.set("description", JsonValue(content.description));
  manifest.set("path", JsonValue(content.host_path));
  manifest.set("type", JsonValue("stdio"));
  if (is_chromium_family(browser)) {
    manifest.set("allowed_origins", string_array(content.allowed_origins));
  } else {
    manifest.set("allowed_extensions", string_array(content.allowed_extensions));
  }
  return JsonValue(std::move(manifest));
}

std::string manifest_text(Browser browser, const ManifestContent& content) {
  std::string text = serialize_json(build_manifest(browser, content));
  text += '\n';
  return text;
}

}  // namespace vk

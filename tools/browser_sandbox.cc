#include "tools/browser_sandbox.h"

#include <string>

namespace vk {
namespace {

constexpr std::string_view kFlatpakApps = ".var/app";
constexpr std::string_view kSnaps = "snap";
constexpr std::string_view kWrapperFolder = "data/tarnwick";
constexpr std::string_view kWrapperName = "vellumkeep-native";
constexpr std::string_view kWrapperStart = "#!/bin/sh\nexec flatpak-spawn --host --watch-bus ";
constexpr std::string_view kWrapperEnd = " \"$@\"\n";
constexpr std::string_view kEscape = "--talk-name=org.freedesktop.Flatpak";

// The sandbox of kind `kind` whose folders live in `parent`, if `directory` is in one.
std::optional<Sandbox> sandbox_below(std::string_view directory, const std::string& parent,
                                     SandboxKind kind) {
  if (!path_is_within(directory, parent)) return std::nullopt;
  std::string_view rest = directory.substr(parent.size());
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  const std::string_view app = rest.substr(0, rest.find('/'));
  if (app.empty()) return std::nullopt;
  return Sandbox{kind, std::string(app), join_below(parent, app)};
}

}  // namespace

std::string_view sandbox_kind_name(SandboxKind kind) {
  return kind == SandboxKind::flatpak ? "flatpak" : "snap";
}

std::optional<Sandbox> sandbox_of(std::string_view directory, std::string_view home) {
  if (home.empty()) return std::nullopt;
  if (auto flatpak =
          sandbox_below(directory, join_below(home, kFlatpakApps), SandboxKind::flatpak)) {
    return flatpak;
  }
  return sandbox_below(directory, join_below(home, kSnaps), SandboxKind::snap);
}

std::optional<Sandbox> flatpak_of(const BrowserInfo& browser, std::string_view home) {
  if (browser.flatpak_id.empty() || home.empty()) return std::nullopt;
  return Sandbox{SandboxKind::flatpak, std::string(browser.flatpak_id),
                 join_below(join_below(home, kFlatpakApps), browser.flatpak_id)};
}

std::string flatpak_manifest_directory(const BrowserInfo& browser, const Sandbox& flatpak) {
  if (browser.format == ManifestFormat::firefox) return join_below(flatpak.root, browser.linux_user);
  return join_below(join_below(flatpak.root, "config"), browser.linux_user);
}

bool sandbox_can_start(const Sandbox& sandbox, std::string_view path) {
  return sandbox.kind == SandboxKind::flatpak && path_is_within(path, sandbox.root);
}

std::string shell_quote(std::string_view word) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("@%_+=:,./-").find(c) != std::string_view::npos;
  };
  bool quote = word.empty();
  for (char c : word) quote = quote || !plain(c);
  if (!quote) return std::string(word);
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  quoted += '\'';
  return quoted;
}

std::optional<std::string> shell_unquote(std::string_view quoted) {
  if (quoted.empty()) return std::nullopt;
  if (quoted.front() != '\'') {
    if (shell_quote(quoted) != quoted) return std::nullopt;
    return std::string(quoted);
  }
  if (quoted.size() < 2 || quoted.back() != '\'') return std::nullopt;
  std::string word;
  std::string_view inner = quoted.substr(1, quoted.size() - 2);
  while (!inner.empty()) {
    if (inner.starts_with("'\\''")) {
      word += '\'';
      inner.remove_prefix(4);
    } else if (inner.front() == '\'') {
      return std::nullopt;
    } else {
      word += inner.front();
      inner.remove_prefix(1);
    }
  }
  if (shell_quote(word) != quoted) return std::nullopt;
  return word;
}

std::string flatpak_wrapper_path(const Sandbox& flatpak) {
  return join_below(join_below(flatpak.root, kWrapperFolder), kWrapperName);
}

std::string flatpak_wrapper_text(std::string_view host_path) {
  return std::string(kWrapperStart) + shell_quote(host_path) + std::string(kWrapperEnd);
}

std::optional<std::string> flatpak_wrapper_host(std::string_view text) {
  if (!text.starts_with(kWrapperStart) || !text.ends_with(kWrapperEnd)) return std::nullopt;
  text.remove_prefix(kWrapperStart.size());
  text.remove_suffix(kWrapperEnd.size());
  return shell_unquote(text);
}

std::string flatpak_escape_withdrawal(const Sandbox& flatpak) {
  return "flatpak override --user --no-" + std::string(kEscape.substr(2)) + " " + flatpak.app;
}

std::string_view proxied_environment_note() {
  return "The host then starts outside the sandbox without the browser's environment: "
         "VK_IPC_SOCKET_PATH set for the browser does not reach it.\n";
}

std::string flatpak_advice(const FlatpakRegistration& r) {
  const std::string& app = r.flatpak.app;
  const std::string folder = shell_quote(join_below(r.flatpak.root, kWrapperFolder));
  const std::string wrapper = shell_quote(flatpak_wrapper_path(r.flatpak));
  std::string text = std::string(r.browser) + " is installed as Flatpak " + app;
  text += ", which reads manifests only inside its sandbox and cannot start a program outside it.";
  text += " To let it start the host, run:\n\n";
  // Unindented, so the block can be pasted into a shell as it stands.
  text += "# WARNING: the override lets " + app;
  text += ", and anything that takes it over, run any program as you outside its sandbox.\n";
  text += "flatpak override --user " + std::string(kEscape) + " " + app + "\n";
  text += "mkdir -p " + folder + "\n";
  text += "cat > " + wrapper + " <<'EOF'\n" + flatpak_wrapper_text(r.host_path) + "EOF\n";
  text += "chmod 755 " + wrapper + "\n";
  text += "vk-install-host-manifest install --manifest-dir=" + shell_quote(r.manifest_directory);
  text += " --format=" + std::string(format_name(r.format)) + " --host-path=" + wrapper;
  for (const std::string& option : r.install_options) text += " " + shell_quote(option);
  text += "\n\n";
  text += proxied_environment_note();
  return text;
}

std::string snap_advice(const BrowserInfo& browser, std::string_view portal_folder) {
  std::string text = std::string(browser.display_name) + " is installed as a snap, which ";
  if (browser.snap_hosts == SnapHosts::portal) {
    text += "reads " + std::string(portal_folder);
    text += " through the desktop portal and asks you once whether the add-on may start the host. ";
    text += proxied_environment_note();
    return text;
  }
  text += "cannot start native-messaging hosts at all; use a " + std::string(browser.display_name);
  text += " that is not a snap with Tarnwick.\n";
  return text;
}

}  // namespace vk

// Browsers packaged as Flatpak or snap on Linux: which folders are theirs,
// which programs their sandbox lets them start, and the advice the installer
// prints instead of reaching into a sandbox unasked. Pure functions: the
// installer looks at the disk.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/host_manifest.h"

namespace vk {

enum class SandboxKind { flatpak, snap };

// One sandboxed application and its private folder under the home.
struct Sandbox {
  SandboxKind kind;
  std::string app;   // Flatpak application ID or snap name
  std::string root;  // <home>/.var/app/<id> or <home>/snap/<name>
};

// "flatpak" or "snap".
std::string_view sandbox_kind_name(SandboxKind kind);

// The sandbox whose private folder holds `directory`, if any.
std::optional<Sandbox> sandbox_of(std::string_view directory, std::string_view home);

// `browser`'s Flatpak folder under `home`, whether or not it is installed;
// none when the browser has no Flatpak.
std::optional<Sandbox> flatpak_of(const BrowserInfo& browser, std::string_view home);

// Where `browser`'s Flatpak reads manifests: inside its sandbox, the config
// home is <root>/config and ~/.mozilla-style folders are <root>/.<name>.
std::string flatpak_manifest_directory(const BrowserInfo& browser, const Sandbox& flatpak);

// Whether the browser in `sandbox` can start the program at `path`: a Flatpak
// sees its own folder at the same path and nothing else of the home; a snap
// starts no program from outside itself.
bool sandbox_can_start(const Sandbox& sandbox, std::string_view path);

// `word` as one POSIX shell word: unchanged when it is plain, else quoted.
std::string shell_quote(std::string_view word);
// The word shell_quote made `quoted` from; none for any other text.
std::optional<std::string> shell_unquote(std::string_view quoted);

// Where the advice puts the wrapper that starts the host from inside a
// Flatpak: <root>/data/tarnwick/vellumkeep-native.
std::string flatpak_wrapper_path(const Sandbox& flatpak);
// How many folders of the wrapper's path are the advice's own
// (data/tarnwick: tarnwick), to remove with it when empty.
inline constexpr std::size_t kFlatpakWrapperOwnFolders = 1;
// The wrapper's text: a shell script that starts `host_path` on the host.
std::string flatpak_wrapper_text(std::string_view host_path);
// The host a wrapper of exactly that text starts; none for any other text.
std::optional<std::string> flatpak_wrapper_host(std::string_view text);
// The command that withdraws the escape the advice grants `flatpak`.
std::string flatpak_escape_withdrawal(const Sandbox& flatpak);

// What the advice needs to name: the browser as users know it, the folder
// its sandbox reads manifests from, and the host with the options that
// register it.
struct FlatpakRegistration {
  std::string_view browser;
  Sandbox flatpak;
  std::string manifest_directory;
  ManifestFormat format;
  std::string host_path;
  std::span<const std::string> install_options;  // --allowed-origin=... and the like
};

// The exact commands that let a Flatpak browser start the host, with their
// security warning; the installer prints them and never runs them.
std::string flatpak_advice(const FlatpakRegistration& registration);

// What a snap of `browser` does with hosts, naming the folder it reads
// through the desktop portal where it has one.
std::string snap_advice(const BrowserInfo& browser, std::string_view portal_folder);

// The one sentence every proxied start needs: the host loses the browser's environment.
std::string_view proxied_environment_note();

}  // namespace vk

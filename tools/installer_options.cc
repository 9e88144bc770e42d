#include "tools/installer_options.h"

#include <algorithm>
#include <string_view>

namespace vk {
namespace {

constexpr std::string_view kDefaultDescription = "Tarnwick password manager native-messaging host";

constexpr std::string_view kUsage =
    "Usage: vk-install-host-manifest install|list|repair|remove [options]\n"
    "       vk-install-host-manifest --help | --version\n"
    "\n"
    "  install   write the host manifest for each chosen browser or folder\n"
    "  list      show the installed manifests and the host each names; exits 1\n"
    "            when any of them is broken\n"
    "  repair    point every manifest (and Flatpak wrapper) at the host again\n"
    "  remove    delete the manifests, the Flatpak wrappers and the folders made\n"
    "            for them that are left empty\n"
    "\n"
    "Options:\n"
    "  --browser=NAME[,NAME]   a browser below, or all (those with a folder for the\n"
    "                          chosen OS and scope); repeatable (install: this or\n"
    "                          --manifest-dir; list, repair, remove: all by default)\n"
    "  --manifest-dir=DIR      the folder a browser reads manifests from, for forks,\n"
    "                          portable builds and custom profiles (absolute)\n"
    "  --format=chromium|firefox  the manifest --manifest-dir takes (install)\n"
    "  --user | --system       per-user (default) or machine-wide manifests;\n"
    "                          list shows both unless one is given\n"
    "  --host-path=PATH        absolute path of vellumkeep-native (default: the host\n"
    "                          of this installer's own installation or build tree)\n"
    "  --allowed-origin=ORIGIN chrome-extension://<id>/ allowed to connect (Chromium\n"
    "                          format; repeatable; default: the IDs built in)\n"
    "  --allowed-extension=ID  Firefox add-on ID allowed to connect (repeatable;\n"
    "                          default: the IDs built in)\n"
    "  --replace-origins       drop the origins and add-on IDs a manifest being\n"
    "                          replaced allowed (install keeps them by default)\n"
    "  --name=NAME             host name (default com.tarnwick.vellumkeep)\n"
    "  --description=TEXT      description shown by the browser\n"
    "  --os=linux|macos        whose locations to use (default: this system's)\n"
    "  --home=DIR              home for per-user manifests (default $HOME; with it,\n"
    "                          $CHROME_CONFIG_HOME and $XDG_CONFIG_HOME are not used)\n"
    "  --root=DIR              staging root for machine-wide folders, for\n"
    "                          --manifest-dir outside the home and for the hosts\n"
    "                          they name (default /)\n"
    "  --lib64                 Firefox's machine-wide folder is /usr/lib64/mozilla/...\n"
    "                          (distributions whose Firefox is built for lib64)\n"
    "  --dry-run               print what would be written or removed; change nothing\n"
    "  --force                 install even where a folder on the way is owned or\n"
    "                          writable by other users (install)\n"
    "  --help, --version       show this text, or the version\n"
    "\n"
    "Browsers:\n";

// Options that take a value, as "--key=VALUE" or "--key VALUE".
constexpr std::string_view kValueOptions[] = {
    "--browser", "--manifest-dir", "--format", "--os", "--home", "--root", "--host-path",
    "--name", "--description", "--allowed-origin", "--allowed-extension"};
// Of those, the ones that name a path.
constexpr std::string_view kPathOptions[] = {"--manifest-dir", "--home", "--root", "--host-path"};

void choose(std::vector<ChosenBrowser>& browsers, const BrowserInfo& browser, bool by_name) {
  for (ChosenBrowser& present : browsers) {
    if (present.browser == &browser) {
      present.by_name = present.by_name || by_name;
      return;
    }
  }
  browsers.push_back({&browser, by_name});
}

Result<void> add_browsers(std::string_view list, std::vector<ChosenBrowser>& browsers) {
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (item == "all") {
      for (const BrowserInfo& browser : known_browsers()) choose(browsers, browser, false);
    } else if (const BrowserInfo* browser = find_browser(item)) {
      choose(browsers, *browser, true);
    } else {
      return Error("unknown browser \"" + std::string(item) + "\" (" + browser_names() + ", all)");
    }
    if (comma == std::string_view::npos) return {};
    list.remove_prefix(comma + 1);
  }
}

// A shell expands "~" only at the start of a word: after "=" it stays.
Result<void> check_tilde(std::string_view key, std::string_view value) {
  if (!value.starts_with('~')) return {};
  std::string text = std::string(key) + "=" + std::string(value) +
                     ": the shell does not expand \"~\" after \"=\"; write " + std::string(key) +
                     " " + std::string(value);
  if (value == "~" || value.starts_with("~/")) {
    text += " or " + std::string(key) + "=\"$HOME" + std::string(value.substr(1)) + "\"";
  }
  return Error(text);
}

bool listed(std::span<const std::string_view> list, std::string_view key) {
  return std::find(list.begin(), list.end(), key) != list.end();
}

}  // namespace

std::string installer_usage() {
  std::string text(kUsage);
  for (const BrowserInfo& browser : known_browsers()) {
    std::string line = "  " + std::string(browser.name);
    line.resize(20, ' ');
    text += line + std::string(browser.display_name) + " (" +
            std::string(format_name(browser.format)) + " format)\n";
  }
  return text;
}

Result<InstallerOptions> parse_installer_options(std::span<char* const> args) {
  InstallerOptions options;
  options.name = kDefaultHostName;
  options.description = kDefaultDescription;
  std::optional<Command> command;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) {
      if (command) return Error("unexpected argument \"" + std::string(arg) + "\"");
      if (arg == "install") command = Command::install;
      else if (arg == "list") command = Command::list;
      else if (arg == "repair") command = Command::repair;
      else if (arg == "remove") command = Command::remove;
      else return Error("unknown command \"" + std::string(arg) + "\"");
      continue;
    }
    std::string_view key = arg;
    std::optional<std::string_view> value;
    if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
      key = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (!listed(kValueOptions, key)) {
      // Flags take no value.
      bool set = false;
      bool* target = key == "--help"              ? &options.help
                     : key == "--version"         ? &options.version
                     : key == "--dry-run"         ? &options.dry_run
                     : key == "--force"           ? &options.force
                     : key == "--replace-origins" ? &options.replace_origins
                     : key == "--lib64"           ? &options.lib64
                     : key == "--user" || key == "--system" ? &set
                                                            : nullptr;
      if (target == nullptr) return Error("unknown option \"" + std::string(key) + "\"");
      if (value) return Error("option " + std::string(key) + " takes no value");
      *target = true;
      if (target == &set) {
        const Scope scope = key == "--user" ? Scope::user : Scope::system;
        if (options.scope && *options.scope != scope) {
          return Error("--user and --system exclude each other");
        }
        options.scope = scope;
      }
      continue;
    }
    if (!value) {
      if (i + 1 >= args.size()) return Error("option " + std::string(key) + " needs a value");
      value = std::string_view(args[++i]);
    }
    Result<void> status;
    std::string text(*value);
    if (listed(kPathOptions, key)) {
      if (auto expanded = check_tilde(key, text); !expanded) return std::move(expanded).error();
    }
    if (key == "--browser") {
      status = add_browsers(text, options.browsers);
    } else if (key == "--manifest-dir") {
      if (options.manifest_dir) status = Error("--manifest-dir is given twice");
      options.manifest_dir = std::move(text);
    } else if (key == "--format") {
      if (const auto format = parse_format(text)) options.format = *format;
      else status = Error("unknown format \"" + text + "\" (chromium, firefox)");
    } else if (key == "--os") {
      if (const auto os = parse_os(text)) options.os = *os;
      else status = Error("unknown OS \"" + text + "\" (linux, macos)");
    } else if (key == "--home") {
      options.home = std::move(text);
    } else if (key == "--root") {
      options.root = std::move(text);
    } else if (key == "--host-path") {
      options.host_path = std::move(text);
    } else if (key == "--name") {
      options.name = std::move(text);
    } else if (key == "--description") {
      options.description = std::move(text);
    } else if (key == "--allowed-origin") {
      options.allowed_origins.push_back(std::move(text));
    } else {
      options.allowed_extensions.push_back(std::move(text));
    }
    if (!status) return std::move(status).error();
  }
  if (options.help || options.version) return options;
  if (!command) return Error("missing command: install, list, repair or remove");
  options.command = *command;
  if (options.root.empty()) return Error("--root must not be empty");
  if (options.manifest_dir) {
    if (!options.browsers.empty()) return Error("--manifest-dir and --browser exclude each other");
    if (options.manifest_dir->empty() || options.manifest_dir->front() != '/') {
      return Error("--manifest-dir must be absolute: \"" + *options.manifest_dir + "\"");
    }
  } else if (options.format) {
    return Error("--format goes with --manifest-dir; a named browser has its own");
  }
  if (auto valid = validate_host_name(options.name); !valid) return std::move(valid).error();
  return options;
}

}  // namespace vk

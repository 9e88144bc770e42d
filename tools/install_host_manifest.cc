// vk-install-host-manifest: registers vellumkeep-native with browsers by
// writing, listing and removing their native-messaging host manifests.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"
#include "tools/browser_sandbox.h"
#include "tools/host_manifest.h"

namespace vk {
namespace {

constexpr std::string_view kProgram = "vk-install-host-manifest";
constexpr std::string_view kDefaultHostName = "com.tarnwick.vellumkeep";
constexpr std::string_view kDefaultDescription = "Tarnwick password manager native-messaging host";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage: vk-install-host-manifest install|list|remove [options]\n"
    "\n"
    "  install   write the host manifest for each chosen browser or folder\n"
    "  list      show the installed manifests and the host each names\n"
    "  remove    delete the manifests\n"
    "\n"
    "Options:\n"
    "  --browser=NAME[,NAME]   a browser below, or all (those with a folder for the\n"
    "                          chosen OS and scope); repeatable (install: this or\n"
    "                          --manifest-dir; list, remove: all by default)\n"
    "  --manifest-dir=DIR      the folder a browser reads manifests from, for forks,\n"
    "                          portable builds and custom profiles (absolute)\n"
    "  --format=chromium|firefox  the manifest --manifest-dir takes (install)\n"
    "  --user | --system       per-user (default) or machine-wide manifests;\n"
    "                          list shows both unless one is given\n"
    "  --host-path=PATH        absolute path of the installed vellumkeep-native\n"
    "  --allowed-origin=ORIGIN chrome-extension://<id>/ allowed to connect (Chromium\n"
    "                          format; repeatable)\n"
    "  --allowed-extension=ID  Firefox add-on ID allowed to connect (repeatable)\n"
    "  --name=NAME             host name (default com.tarnwick.vellumkeep)\n"
    "  --description=TEXT      description shown by the browser\n"
    "  --os=linux|macos        whose locations to use (default: this system's)\n"
    "  --home=DIR              home for per-user manifests (default $HOME; with it,\n"
    "                          $CHROME_CONFIG_HOME and $XDG_CONFIG_HOME are not used)\n"
    "  --root=DIR              prefix for machine-wide locations (default /)\n"
    "  --dry-run               print what would be written or removed; change nothing\n"
    "  --help                  show this text\n"
    "\n"
    "Browsers:\n";

enum class Command { install, list, remove };

// A browser chosen on the command line; `all` chooses only those with a
// folder where the user asked, a browser named outright must have one.
struct Chosen {
  const BrowserInfo* browser;
  bool by_name;
};

struct Options {
  Command command = Command::install;
  std::vector<Chosen> browsers;
  std::optional<std::string> manifest_dir;
  std::optional<ManifestFormat> format;
  std::optional<Scope> scope;
  Os os =
#ifdef __APPLE__
      Os::macos;
#else
      Os::linux_os;
#endif
  std::optional<std::string> home;
  std::string root = "/";
  std::optional<std::string> host_path;
  std::string name{kDefaultHostName};
  std::string description{kDefaultDescription};
  std::vector<std::string> allowed_origins;
  std::vector<std::string> allowed_extensions;
  bool dry_run = false;
  bool help = false;
};

void print_out(std::string_view text) { (void)write_all(STDOUT_FILENO, text); }

void print_error(std::string_view text) {
  std::string line(kProgram);
  line += ": ";
  line += text;
  line += '\n';
  (void)write_all(STDERR_FILENO, line);
}

std::string usage() {
  std::string text(kUsage);
  for (const BrowserInfo& browser : known_browsers()) {
    std::string line = "  " + std::string(browser.name);
    line.resize(20, ' ');
    text += line + std::string(browser.display_name) + " (" +
            std::string(format_name(browser.format)) + " format)\n";
  }
  return text;
}

void choose(std::vector<Chosen>& browsers, const BrowserInfo& browser, bool by_name) {
  for (Chosen& present : browsers) {
    if (present.browser == &browser) {
      present.by_name = present.by_name || by_name;
      return;
    }
  }
  browsers.push_back({&browser, by_name});
}

Result<void> add_browsers(std::string_view list, std::vector<Chosen>& browsers) {
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

Result<Options> parse_options(int argc, char** argv) {
  Options options;
  std::optional<Command> command;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with("--")) {
      if (command) return Error("unexpected argument \"" + std::string(arg) + "\"");
      if (arg == "install") command = Command::install;
      else if (arg == "list") command = Command::list;
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
    // Flags take no value; every other option takes "=VALUE" or the next argument.
    const auto flag = [&](bool& target) -> Result<void> {
      if (value) return Error("option " + std::string(key) + " takes no value");
      target = true;
      return {};
    };
    const auto take = [&]() -> Result<std::string> {
      if (value) return std::string(*value);
      if (i + 1 >= argc) return Error("option " + std::string(key) + " needs a value");
      return std::string(argv[++i]);
    };
    bool set = false;
    Result<void> status;
    if (key == "--help") {
      status = flag(options.help);
    } else if (key == "--dry-run") {
      status = flag(options.dry_run);
    } else if (key == "--user" || key == "--system") {
      status = flag(set);
      const Scope scope = key == "--user" ? Scope::user : Scope::system;
      if (status && options.scope && *options.scope != scope) {
        status = Error("--user and --system exclude each other");
      }
      options.scope = scope;
    } else {
      auto taken = take();
      if (!taken) return std::move(taken).error();
      std::string text = std::move(taken).value();
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
      } else if (key == "--allowed-extension") {
        options.allowed_extensions.push_back(std::move(text));
      } else {
        status = Error("unknown option \"" + std::string(key) + "\"");
      }
    }
    if (!status) return std::move(status).error();
  }
  if (options.help) return options;
  if (!command) return Error("missing command: install, list or remove");
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

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p with mode 0755.
Result<void> make_directories(const std::string& path) {
  if (path.empty() || is_directory(path)) return {};
  if (auto parent = make_directories(parent_of(path)); !parent) return parent;
  if (mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && is_directory(path))) {
    // Something other than a directory is in the way.
    const int code = errno == EEXIST ? ENOTDIR : errno;
    return Error::from_errno(code).prefixed("cannot create directory " + path + ": ");
  }
  return {};
}

// Writes beside the target and renames over it, so a browser never reads a
// half-written manifest and a failed write keeps the previous one.
Result<void> write_file_atomically(const std::string& path, std::string_view text) {
  std::string temporary = parent_of(path) + "/.vk-manifest.XXXXXX";
  UniqueFd fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd.valid()) return Error::from_errno(errno).prefixed("cannot write " + path + ": ");
  Result<void> status;
  if (fchmod(fd.get(), 0644) != 0) status = Error::from_errno(errno);
  if (status) status = write_all(fd.get(), text);
  if (status && fsync(fd.get()) != 0) status = Error::from_errno(errno);
  if (status) status = fd.close();
  if (status && rename(temporary.c_str(), path.c_str()) != 0) status = Error::from_errno(errno);
  if (!status) {
    unlink(temporary.c_str());
    return std::move(status).error().prefixed("cannot write " + path + ": ");
  }
  return {};
}

Result<std::string> read_small_file(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return Error::from_errno(errno);
  std::string text;
  char buffer[4096];
  while (true) {
    auto got = read_some(fd.get(), buffer);
    if (!got) return std::move(got).error();
    if (*got == 0) return text;
    text.append(buffer, *got);
  }
}

// Everything a run needs to know about where manifests go.
struct Places {
  LocationBase base;
  ConfigHome config;  // used only for Chromium-family per-user folders on Linux
};

Places find_places(const Options& options) {
  Places places;
  places.base.home = options.home ? *options.home : default_home();
  places.base.root = options.root;
  // Another home is staged as a fresh login sees it: the variables belong to this session.
  if (!options.home && options.os == Os::linux_os) {
    places.config =
        chromium_config_home(std::getenv("CHROME_CONFIG_HOME"), std::getenv("XDG_CONFIG_HOME"));
    places.base.config_home = places.config.path;
  }
  return places;
}

// One folder set the run reads or writes, and what to call it in reports.
struct Target {
  const BrowserInfo* browser;  // null for --manifest-dir
  std::string_view scope;      // "user", "system", "dir" or the sandbox kind
  ManifestFormat format;
  // The first is written; the rest only where their browser build lives.
  std::vector<std::string> directories;
  std::optional<Sandbox> sandbox;
  bool under_root = false;  // its manifests name hosts inside --root
};

std::string target_label(const Target& target) {
  return std::string(target.browser != nullptr ? target.browser->name : "custom") + " " +
         std::string(target.scope);
}

// The named browsers' folders in `scopes`. A browser named outright that has
// no folder there is an error; one chosen by `all` is left out.
std::vector<Target> named_targets(const Options& options, const Places& places,
                                  const std::vector<Scope>& scopes, std::vector<Error>* errors) {
  std::vector<Chosen> browsers = options.browsers;
  if (browsers.empty()) {
    for (const BrowserInfo& browser : known_browsers()) browsers.push_back({&browser, false});
  }
  std::vector<Target> targets;
  for (const Chosen& chosen : browsers) {
    for (Scope scope : scopes) {
      auto directories = manifest_directories(*chosen.browser, options.os, scope, places.base);
      if (!directories) {
        if (chosen.by_name && errors != nullptr) errors->push_back(std::move(directories).error());
        continue;
      }
      targets.push_back({chosen.browser, scope_name(scope), chosen.browser->format,
                         std::move(directories).value(), std::nullopt, scope == Scope::system});
    }
  }
  return targets;
}

// The folders of the named browsers' Flatpaks, which only `list` looks into.
std::vector<Target> flatpak_targets(const Options& options, const Places& places) {
  std::vector<Target> targets;
  if (options.os != Os::linux_os) return targets;
  for (const Target& named : named_targets(options, places, {Scope::user}, nullptr)) {
    if (auto flatpak = flatpak_of(*named.browser, places.base.home)) {
      std::vector<std::string> folder = {flatpak_manifest_directory(*named.browser, *flatpak)};
      targets.push_back(
          {named.browser, "flatpak", named.format, std::move(folder), flatpak, false});
    }
  }
  return targets;
}

Target custom_target(const Options& options, const Places& places) {
  const ManifestFormat format = options.format.value_or(ManifestFormat::chromium);
  Target target{nullptr, "dir", format, {*options.manifest_dir}, std::nullopt, false};
  if (options.os == Os::linux_os) {
    target.sandbox = sandbox_of(*options.manifest_dir, places.base.home);
  }
  if (target.sandbox) target.scope = sandbox_kind_name(target.sandbox->kind);
  return target;
}

// The options that register the host besides the folder and the host path,
// as the advice repeats them.
std::vector<std::string> registration_options(const Options& options, ManifestFormat format) {
  std::vector<std::string> extra;
  if (format == ManifestFormat::chromium) {
    for (const auto& origin : options.allowed_origins) {
      extra.push_back("--allowed-origin=" + origin);
    }
  } else {
    for (const auto& id : options.allowed_extensions) extra.push_back("--allowed-extension=" + id);
  }
  if (options.name != kDefaultHostName) extra.push_back("--name=" + options.name);
  return extra;
}

// Why `target`, a folder inside a sandbox, cannot take this manifest, with
// the advice that helps; nothing when it can.
std::optional<std::string> sandbox_refusal(const Options& options, const Places& places,
                                           const Target& target) {
  const Sandbox& sandbox = *target.sandbox;
  const std::string where = std::string(sandbox_kind_name(sandbox.kind)) + " " + sandbox.app;
  if (options.scope == Scope::system) {
    return *options.manifest_dir + " is inside the " + where +
           ", which reads no machine-wide manifests; drop --system\n";
  }
  if (sandbox.kind == SandboxKind::snap) {
    std::string text = *options.manifest_dir + " is inside the snap " + sandbox.app +
                       ", which cannot start a program outside itself\n";
    for (const BrowserInfo& browser : known_browsers()) {
      if (browser.snap_name != sandbox.app || browser.snap_hosts != SnapHosts::portal) continue;
      auto folders = manifest_directories(browser, Os::linux_os, Scope::user, places.base);
      if (!folders) continue;
      text += snap_advice(browser, folders->front()) +
              "Register it there with --browser=" + std::string(browser.name) + ".\n";
    }
    return text;
  }
  if (sandbox_can_start(sandbox, *options.host_path)) return std::nullopt;
  std::string_view browser = "This browser";
  for (const BrowserInfo& known : known_browsers()) {
    if (known.flatpak_id == sandbox.app) browser = known.display_name;
  }
  const auto extra = registration_options(options, target.format);
  return *options.host_path + " is outside the " + where + ", which cannot start it\n" +
         flatpak_advice(
             {browser, sandbox, *options.manifest_dir, target.format, *options.host_path, extra});
}

// For each chosen browser also packaged as Flatpak or snap here, what it takes
// to use the host there. Nothing is written into a sandbox unasked.
void explain_sandboxes(const Options& options, const Places& places,
                       const std::vector<Target>& targets) {
  if (options.os != Os::linux_os) return;
  std::set<const BrowserInfo*> explained;
  for (const Target& target : targets) {
    const BrowserInfo& browser = *target.browser;
    if (!explained.insert(&browser).second) continue;
    if (auto flatpak = flatpak_of(browser, places.base.home);
        flatpak && is_directory(flatpak->root)) {
      const auto extra = registration_options(options, browser.format);
      print_out("\n" + flatpak_advice({browser.display_name, *flatpak,
                                       flatpak_manifest_directory(browser, *flatpak),
                                       browser.format, *options.host_path, extra}));
    }
    if (browser.snap_name.empty()) continue;
    const std::string snap_bin =
        join_path(join_path(places.base.root, "snap/bin"), browser.snap_name);
    if (is_directory(join_path(join_path(places.base.home, "snap"), browser.snap_name)) ||
        exists(snap_bin)) {
      auto user = manifest_directories(browser, options.os, Scope::user, places.base);
      print_out("\n" + snap_advice(browser, user ? user->front() : "its usual folders"));
    }
  }
}

// Says which variable moved the Chromium family's per-user folders, and
// which were ignored, when any of the targets live there.
void report_config_home(const Places& places, const std::vector<Target>& targets) {
  bool relevant = false;
  for (const Target& target : targets) {
    relevant = relevant || (target.browser != nullptr &&
                            target.format == ManifestFormat::chromium && target.scope == "user");
  }
  if (!relevant) return;
  for (std::string_view ignored : places.config.ignored) {
    print_error("warning: $" + std::string(ignored) + " is not an absolute path; ignored");
  }
  if (!places.config.variable.empty()) {
    print_out("Chromium-family folders are under $" + std::string(places.config.variable) + " (" +
              places.config.path + ")\n");
  }
}

// The host a manifest names and whether the browser can start it: missing,
// not executable, or out of its sandbox's sight.
std::string describe_manifest(const std::string& path, const Target& target, const Places& places) {
  auto text = read_small_file(path);
  if (!text) return "(unreadable: " + text.error().text() + ")";
  auto value = parse_json(*text);
  if (!value) return "(not JSON: " + value.error().display() + ")";
  const std::optional<JsonValue> host = value->member("path");
  const std::optional<std::string> path_text = host ? host->as_string() : std::nullopt;
  if (!path_text) return "(no \"path\")";
  const std::string& host_path = *path_text;
  std::string description = "-> " + host_path;
  if (target.sandbox && !sandbox_can_start(*target.sandbox, host_path)) {
    const std::string kind(sandbox_kind_name(target.sandbox->kind));
    return description + " (outside the " + kind + ")";
  }
  const std::string on_disk =
      target.under_root ? join_path(places.base.root, host_path) : host_path;
  struct stat info {};
  if (host_path.empty() || host_path.front() != '/' || stat(on_disk.c_str(), &info) != 0) {
    return description + " (missing)";
  }
  if (S_ISDIR(info.st_mode) && bundle_executable_path(host_path) != host_path) {
    return description + " (a bundle: name its executable " + bundle_executable_path(host_path) +
           ")";
  }
  if (!S_ISREG(info.st_mode) || access(on_disk.c_str(), X_OK) != 0) {
    return description + " (not executable)";
  }
  return description;
}

int run_install(const Options& options, const Places& places) {
  if (options.browsers.empty() && !options.manifest_dir) {
    print_error("install needs --browser=NAME or --manifest-dir=DIR (see --help)");
    return kExitUsage;
  }
  if (!options.host_path) {
    print_error("install needs --host-path, the absolute path of vellumkeep-native");
    return kExitUsage;
  }
  // Everything is checked before the first file is written.
  std::vector<Error> errors;
  std::vector<std::string> refusals;  // with advice, printed after the errors
  const auto check = [&](Result<void> result) {
    if (!result) errors.push_back(std::move(result).error());
  };
  // A bundle given as the host stands for its executable, which the
  // manifest names: a browser starts a file, not a folder.
  const std::string host_path = bundle_executable_path(*options.host_path);
  check(validate_host_path(host_path));
  check(validate_description(options.description));
  for (const auto& origin : options.allowed_origins) check(validate_allowed_origin(origin));
  for (const auto& id : options.allowed_extensions) check(validate_allowed_extension(id));

  std::vector<Target> targets;
  if (options.manifest_dir) {
    if (!options.format) {
      errors.emplace_back("--manifest-dir needs --format=chromium or --format=firefox");
    } else {
      targets.push_back(custom_target(options, places));
      if (targets.back().sandbox) {
        if (auto refusal = sandbox_refusal(options, places, targets.back())) {
          refusals.push_back(*refusal);
        }
      }
      if (options.scope && !(targets.back().sandbox && options.scope == Scope::system)) {
        errors.emplace_back("--manifest-dir names the folder itself; drop --" +
                            std::string(scope_name(*options.scope)));
      }
    }
  } else {
    targets = named_targets(options, places, {options.scope.value_or(Scope::user)}, &errors);
    if (targets.empty() && errors.empty()) {
      errors.emplace_back("none of the chosen browsers has a " +
                          std::string(scope_name(options.scope.value_or(Scope::user))) +
                          " folder on " + std::string(os_name(options.os)));
    }
  }
  bool needs_origin = false;
  bool needs_extension = false;
  for (const Target& target : targets) {
    needs_origin = needs_origin || target.format == ManifestFormat::chromium;
    needs_extension = needs_extension || target.format == ManifestFormat::firefox;
  }
  if (needs_origin && options.allowed_origins.empty()) {
    errors.emplace_back(
        "the Chromium format needs at least one --allowed-origin=chrome-extension://<id>/");
  }
  if (needs_extension && options.allowed_extensions.empty()) {
    errors.emplace_back("the Firefox format needs at least one --allowed-extension=<add-on id>");
  }
  if (!errors.empty() || !refusals.empty()) {
    for (const Error& error : errors) print_error(error.text());
    for (const std::string& refusal : refusals) print_error(refusal.substr(0, refusal.size() - 1));
    return kExitUsage;
  }

  if (access(host_path.c_str(), X_OK) != 0) {
    print_error("warning: " + host_path + " is not an executable file on this system");
  }
  report_config_home(places, targets);

  const ManifestContent content{options.name, options.description, host_path,
                                options.allowed_origins, options.allowed_extensions};
  int status = 0;
  std::set<std::string> written;  // Chrome's channels share their machine-wide folder
  for (const Target& target : targets) {
    const std::string text = manifest_text(target.format, content);
    for (std::size_t i = 0; i < target.directories.size(); ++i) {
      const std::string& directory = target.directories[i];
      // Alternative locations are written only where that browser build lives.
      if (i > 0 && !is_directory(parent_of(directory))) continue;
      const std::string path = join_path(directory, manifest_file_name(options.name));
      if (!written.insert(path).second) continue;
      if (options.dry_run) {
        print_out("would write " + path + "\n" + text);
        continue;
      }
      Result<void> done = make_directories(directory);
      if (done) done = write_file_atomically(path, text);
      if (!done) {
        print_error(done.error().text());
        status = kExitFailure;
        continue;
      }
      print_out("wrote " + path + "\n");
    }
  }
  if (options.manifest_dir) {
    if (targets.front().sandbox) print_out(proxied_environment_note());
  } else {
    explain_sandboxes(options, places, targets);
  }
  return status;
}

// The folders list and remove look into: the --manifest-dir, or the named
// browsers' folders in the chosen scopes.
std::vector<Target> existing_locations(const Options& options, const Places& places,
                                       bool both_scopes) {
  if (options.manifest_dir) return {custom_target(options, places)};
  std::vector<Scope> scopes;
  if (options.scope) scopes = {*options.scope};
  else if (both_scopes) scopes = {Scope::user, Scope::system};
  else scopes = {Scope::user};
  return named_targets(options, places, scopes, nullptr);
}

// Calls `visit` once per manifest file found in `targets`.
template <class Visit>
bool for_each_manifest(const Options& options, const std::vector<Target>& targets, Visit visit) {
  bool found = false;
  std::set<std::string> seen;
  for (const Target& target : targets) {
    for (const std::string& directory : target.directories) {
      const std::string path = join_path(directory, manifest_file_name(options.name));
      if (!seen.insert(path).second || !exists(path)) continue;
      found = true;
      visit(target, path);
    }
  }
  return found;
}

int run_list(const Options& options, const Places& places) {
  std::vector<Target> targets = existing_locations(options, places, true);
  if (!options.manifest_dir && options.scope != Scope::system) {
    for (Target& flatpak : flatpak_targets(options, places)) targets.push_back(std::move(flatpak));
  }
  report_config_home(places, targets);
  const bool found =
      for_each_manifest(options, targets, [&](const Target& target, const std::string& path) {
        print_out(target_label(target) + " " + path + " " +
                  describe_manifest(path, target, places) + "\n");
      });
  if (!found) print_out("no " + manifest_file_name(options.name) + " manifest installed\n");
  return 0;
}

int run_remove(const Options& options, const Places& places) {
  const std::vector<Target> targets = existing_locations(options, places, false);
  report_config_home(places, targets);
  int status = 0;
  const bool found =
      for_each_manifest(options, targets, [&](const Target&, const std::string& path) {
        if (options.dry_run) {
          print_out("would remove " + path + "\n");
        } else if (unlink(path.c_str()) != 0) {
          print_error(Error::from_errno(errno).prefixed("cannot remove " + path + ": ").text());
          status = kExitFailure;
        } else {
          print_out("removed " + path + "\n");
        }
      });
  if (!found) print_out("no " + manifest_file_name(options.name) + " manifest to remove\n");
  return status;
}

int run(int argc, char** argv) {
  auto parsed = parse_options(argc, argv);
  if (!parsed) {
    print_error(parsed.error().text() + " (see --help)");
    return kExitUsage;
  }
  const Options& options = *parsed;
  if (options.help) {
    print_out(usage());
    return 0;
  }
  const Places places = find_places(options);
  switch (options.command) {
    case Command::install: return run_install(options, places);
    case Command::list: return run_list(options, places);
    case Command::remove: return run_remove(options, places);
  }
  return kExitFailure;
}

}  // namespace
}  // namespace vk

int main(int argc, char** argv) { return vk::run(argc, argv); }

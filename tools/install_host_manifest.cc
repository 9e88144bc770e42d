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
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"
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
    "  install   write the host manifest for each chosen browser\n"
    "  list      show the installed manifests and the host each names\n"
    "  remove    delete the manifests\n"
    "\n"
    "Options:\n"
    "  --browser=NAME[,NAME]   chrome, chromium, brave, edge, vivaldi, firefox or all;\n"
    "                          repeatable (install: required; list, remove: all)\n"
    "  --user | --system       per-user (default) or machine-wide manifests;\n"
    "                          list shows both unless one is given\n"
    "  --host-path=PATH        absolute path of the installed vellumkeep-native\n"
    "  --allowed-origin=ORIGIN chrome-extension://<id>/ allowed to connect (Chromium\n"
    "                          family; repeatable)\n"
    "  --allowed-extension=ID  Firefox add-on ID allowed to connect (repeatable)\n"
    "  --name=NAME             host name (default com.tarnwick.vellumkeep)\n"
    "  --description=TEXT      description shown by the browser\n"
    "  --os=linux|macos        whose locations to use (default: this system's)\n"
    "  --home=DIR              home directory for per-user manifests (default $HOME)\n"
    "  --root=DIR              prefix for machine-wide locations (default /)\n"
    "  --dry-run               print what would be written or removed; change nothing\n"
    "  --help                  show this text\n";

enum class Command { install, list, remove };

struct Options {
  Command command = Command::install;
  std::vector<Browser> browsers;
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

void add_unique(std::vector<Browser>& browsers, Browser browser) {
  for (Browser present : browsers) {
    if (present == browser) return;
  }
  browsers.push_back(browser);
}

Result<void> add_browsers(std::string_view list, std::vector<Browser>& browsers) {
  while (true) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    if (item == "all") {
      for (Browser browser : kAllBrowsers) add_unique(browsers, browser);
    } else if (const auto browser = parse_browser(item)) {
      add_unique(browsers, *browser);
    } else {
      return Error("unknown browser \"" + std::string(item) +
                   "\" (chrome, chromium, brave, edge, vivaldi, firefox, all)");
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

// The host path a manifest names, or why it cannot be told.
std::string describe_manifest(const std::string& path) {
  auto text = read_small_file(path);
  if (!text) return "(unreadable: " + text.error().text() + ")";
  auto value = parse_json(*text);
  if (!value) return "(not JSON: " + value.error().display() + ")";
  const std::optional<JsonValue> host = value->member("path");
  const std::optional<std::string> host_path = host ? host->as_string() : std::nullopt;
  if (!host_path) return "(no \"path\")";
  return "-> " + *host_path;
}

struct Target {
  Browser browser;
  Scope scope;
  std::vector<std::string> directories;
};

int run_install(const Options& options, const LocationBase& base) {
  if (options.browsers.empty()) {
    print_error("install needs --browser (chrome, chromium, brave, edge, vivaldi, firefox, all)");
    return kExitUsage;
  }
  if (!options.host_path) {
    print_error("install needs --host-path, the absolute path of vellumkeep-native");
    return kExitUsage;
  }
  // Everything is checked before the first file is written.
  std::vector<Result<void>> checks;
  checks.push_back(validate_host_path(*options.host_path));
  checks.push_back(validate_description(options.description));
  for (const auto& origin : options.allowed_origins) checks.push_back(validate_allowed_origin(origin));
  for (const auto& id : options.allowed_extensions) checks.push_back(validate_allowed_extension(id));
  const Scope scope = options.scope.value_or(Scope::user);
  std::vector<Target> targets;
  for (Browser browser : options.browsers) {
    if (is_chromium_family(browser) && options.allowed_origins.empty()) {
      checks.push_back(Error(std::string(browser_name(browser)) +
                             " needs at least one --allowed-origin=chrome-extension://<id>/"));
    }
    if (!is_chromium_family(browser) && options.allowed_extensions.empty()) {
      checks.push_back(Error("firefox needs at least one --allowed-extension=<add-on id>"));
    }
    auto directories = manifest_directories(browser, options.os, scope, base);
    if (!directories) {
      checks.push_back(std::move(directories).error());
      continue;
    }
    targets.push_back({browser, scope, std::move(directories).value()});
  }
  bool refused = false;
  for (const auto& check : checks) {
    if (!check) {
      print_error(check.error().text());
      refused = true;
    }
  }
  if (refused) return kExitUsage;

  if (access(options.host_path->c_str(), X_OK) != 0) {
    print_error("warning: " + *options.host_path + " is not an executable file on this system");
  }

  const ManifestContent content{options.name, options.description, *options.host_path,
                                options.allowed_origins, options.allowed_extensions};
  int status = 0;
  for (const Target& target : targets) {
    const std::string text = manifest_text(target.browser, content);
    for (std::size_t i = 0; i < target.directories.size(); ++i) {
      const std::string& directory = target.directories[i];
      // Alternative locations are written only where that browser build lives.
      if (i > 0 && !is_directory(parent_of(directory))) continue;
      const std::string path = join_path(directory, manifest_file_name(options.name));
      if (options.dry_run) {
        print_out("would write " + path + "\n" + text);
        continue;
      }
      Result<void> written = make_directories(directory);
      if (written) written = write_file_atomically(path, text);
      if (!written) {
        print_error(written.error().text());
        status = kExitFailure;
        continue;
      }
      print_out("wrote " + path + "\n");
    }
  }
  return status;
}

// Every location of the chosen browsers and scopes; undocumented ones are skipped.
std::vector<Target> existing_locations(const Options& options, const LocationBase& base,
                                       Scope default_scope, bool both_scopes) {
  std::vector<Scope> scopes;
  if (options.scope) scopes = {*options.scope};
  else if (both_scopes) scopes = {Scope::user, Scope::system};
  else scopes = {default_scope};
  std::vector<Browser> browsers = options.browsers;
  if (browsers.empty()) browsers.assign(std::begin(kAllBrowsers), std::end(kAllBrowsers));
  std::vector<Target> targets;
  for (Browser browser : browsers) {
    for (Scope scope : scopes) {
      auto directories = manifest_directories(browser, options.os, scope, base);
      if (directories) targets.push_back({browser, scope, std::move(directories).value()});
    }
  }
  return targets;
}

int run_list(const Options& options, const LocationBase& base) {
  bool found = false;
  for (const Target& target : existing_locations(options, base, Scope::user, true)) {
    for (const std::string& directory : target.directories) {
      const std::string path = join_path(directory, manifest_file_name(options.name));
      if (!exists(path)) continue;
      found = true;
      print_out(std::string(browser_name(target.browser)) + " " +
                std::string(scope_name(target.scope)) + " " + path + " " +
                describe_manifest(path) + "\n");
    }
  }
  if (!found) print_out("no " + manifest_file_name(options.name) + " manifest installed\n");
  return 0;
}

int run_remove(const Options& options, const LocationBase& base) {
  bool found = false;
  int status = 0;
  for (const Target& target : existing_locations(options, base, Scope::user, false)) {
    for (const std::string& directory : target.directories) {
      const std::string path = join_path(directory, manifest_file_name(options.name));
      if (!exists(path)) continue;
      found = true;
      if (options.dry_run) {
        print_out("would remove " + path + "\n");
      } else if (unlink(path.c_str()) != 0) {
        print_error(Error::from_errno(errno).prefixed("cannot remove " + path + ": ").text());
        status = kExitFailure;
      } else {
        print_out("removed " + path + "\n");
      }
    }
  }
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
    print_out(kUsage);
    return 0;
  }
  LocationBase base;
  base.home = options.home ? *options.home : default_home();
  base.root = options.root;
  switch (options.command) {
    case Command::install: return run_install(options, base);
    case Command::list: return run_list(options, base);
    case Command::remove: return run_remove(options, base);
  }
  return kExitFailure;
}

}  // namespace
}  // namespace vk

int main(int argc, char** argv) { return vk::run(argc, argv); }

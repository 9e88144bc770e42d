#include "tools/installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native_messaging/fd_io.h"
#include "native_messaging/json.h"
#include "tools/anchored_files.h"
#include "tools/browser_sandbox.h"
#include "tools/host_manifest.h"
#include "tools/installer_options.h"
#include "tools/manifest_inventory.h"
#include "vk_version.h"

namespace vk {
namespace {

constexpr std::string_view kProgram = "vk-install-host-manifest";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void print_out(std::string_view text) { (void)write_all(STDOUT_FILENO, text); }

void print_error(std::string_view text) {
  std::string line(kProgram);
  line += ": ";
  line += text;
  line += '\n';
  (void)write_all(STDERR_FILENO, line);
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// "1 origin", "2 add-on IDs".
std::string count_of(std::size_t count, ManifestFormat format) {
  std::string text = std::to_string(count) +
                     (format == ManifestFormat::chromium ? " origin" : " add-on ID");
  if (count != 1) text += 's';
  return text;
}

// What one run works with.
struct Run {
  const InstallerOptions& options;
  const InstallerDefaults& defaults;
  Places places;

  const std::string& root() const { return places.base.root; }
};

// The host the manifests name: the one given, or the host of this
// installer's own installation. Inside a staging root it is named as the
// installed system will see it.
struct ChosenHost {
  std::string path;     // as the manifests name it
  std::string on_disk;  // where it is now
  bool given = false;
  std::string origin_note;  // which host was taken, when none was given
};

Result<ChosenHost> choose_host(const Run& run, bool under_root) {
  const InstallerOptions& options = run.options;
  const bool staged = under_root && run.root() != "/";
  ChosenHost host;
  if (options.host_path) {
    if (auto valid = validate_host_path(*options.host_path); !valid) {
      return std::move(valid).error();
    }
    // A bundle given as the host stands for its executable, which the
    // manifest names: a browser starts a file, not a folder.
    host.path = bundle_executable_path(*options.host_path);
    host.on_disk = staged ? join_below(run.root(), host.path) : host.path;
    host.given = true;
  } else {
    auto installer = own_executable_path();
    if (!installer) return std::move(installer).error();
    const OwnHost own = own_host(*installer, run.defaults.host_layout);
    const std::string_view whose = own.build_tree ? "this build tree" : "this installation";
    struct stat info {};
    if (stat(own.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return Error("no --host-path given, and the host of " + std::string(whose) +
                   " is not at " + own.path + "; name it with --host-path");
    }
    host.on_disk = own.path;
    host.path = own.path;
    if (staged) {
      const std::string root = real_path(run.root());
      if (!path_is_within(own.path, root) || path_is_within(root, own.path)) {
        return Error("--root needs --host-path: this installer is not inside " + run.root());
      }
      host.path = "/" + own.path.substr(root.size() + (root.back() == '/' ? 0 : 1));
    }
    host.origin_note = "using the host of " + std::string(whose) + ": " + host.path + "\n";
  }
  if (is_directory(host.on_disk)) {
    return Error("host path " + host.path + " is a directory; name the vellumkeep-native program in it");
  }
  return host;
}

// Whether any of `folders` names hosts inside the staging root.
bool any_under_root(const std::vector<ManifestFolder>& folders) {
  return std::any_of(folders.begin(), folders.end(),
                     [](const ManifestFolder& folder) { return folder.under_root; });
}

// The folders a command works on: the named folder, or the chosen
// browsers' folders in the chosen scope (`both_scopes`: both unless one is
// chosen), with their Flatpak folders when per-user folders are included.
std::vector<ManifestFolder> chosen_folders(const Run& run, bool both_scopes) {
  const InstallerOptions& options = run.options;
  if (options.manifest_dir) {
    return {named_folder(*options.manifest_dir, options.format, run.places)};
  }
  std::vector<Scope> scopes;
  if (options.scope) scopes = {*options.scope};
  else if (both_scopes) scopes = {Scope::user, Scope::system};
  else scopes = {Scope::user};
  std::vector<ManifestFolder> folders =
      browser_folders(options.browsers, run.places, scopes, nullptr);
  if (options.scope != Scope::system) {
    for (ManifestFolder& flatpak : flatpak_folders(options.browsers, run.places)) {
      folders.push_back(std::move(flatpak));
    }
  }
  return folders;
}

// Says which variable moved the Chromium family's per-user folders, which
// were ignored, and which --home left out, when any of `folders` live there.
void report_config_home(const Run& run, const std::vector<ManifestFolder>& folders) {
  bool relevant = false;
  for (const ManifestFolder& folder : folders) {
    relevant = relevant || (folder.browser != nullptr &&
                            folder.format == ManifestFormat::chromium && folder.scope == "user");
  }
  if (!relevant || run.places.os != Os::linux_os) return;
  const ConfigHome& config = run.places.config;
  for (std::string_view ignored : config.ignored) {
    print_error("warning: $" + std::string(ignored) + " is not an absolute path; ignored");
  }
  if (!config.variable.empty()) {
    print_out("Chromium-family folders are under $" + std::string(config.variable) + " (" +
              config.path + ")\n");
  }
  if (run.options.home) {
    for (const char* variable : {"CHROME_CONFIG_HOME", "XDG_CONFIG_HOME"}) {
      const char* value = std::getenv(variable);
      if (value == nullptr || *value == '\0') continue;
      print_error("note: $" + std::string(variable) +
                  " is not used with --home; Chromium-family folders are under " +
                  join_below(run.places.base.home, ".config"));
    }
  }
}

// The allow-lists a run writes: those given, else those built in.
struct AllowLists {
  std::vector<std::string> origins;
  std::vector<std::string> extensions;

  const std::vector<std::string>& of(ManifestFormat format) const {
    return format == ManifestFormat::chromium ? origins : extensions;
  }
};

AllowLists allow_lists(const Run& run) {
  AllowLists lists{run.options.allowed_origins, run.options.allowed_extensions};
  if (lists.origins.empty()) {
    for (const auto& id : run.defaults.chrome_extension_ids) {
      lists.origins.push_back(extension_origin(id));
    }
  }
  if (lists.extensions.empty()) lists.extensions = run.defaults.firefox_extension_ids;
  return lists;
}

// The options that register the host besides the folder and the host path,
// as the advice repeats them.
std::vector<std::string> registration_options(const Run& run, const AllowLists& lists,
                                              ManifestFormat format) {
  std::vector<std::string> extra;
  const std::string key = format == ManifestFormat::chromium ? "--allowed-origin=" : "--allowed-extension=";
  for (const auto& item : lists.of(format)) extra.push_back(key + item);
  if (run.options.name != kDefaultHostName) extra.push_back("--name=" + run.options.name);
  return extra;
}

// Why `folder`, inside a sandbox, cannot take this manifest, with the
// advice that helps; nothing when it can.
std::optional<std::string> sandbox_refusal(const Run& run, const AllowLists& lists,
                                           const ManifestFolder& folder, const std::string& host) {
  const InstallerOptions& options = run.options;
  const Sandbox& sandbox = *folder.sandbox;
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
      auto folders = manifest_directories(browser, Os::linux_os, Scope::user, run.places.base);
      if (!folders) continue;
      text += snap_advice(browser, folders->front()) +
              "Register it there with --browser=" + std::string(browser.name) + ".\n";
    }
    return text;
  }
  if (sandbox_can_start(sandbox, host)) return std::nullopt;
  std::string_view browser = "This browser";
  for (const BrowserInfo& known : known_browsers()) {
    if (known.flatpak_id == sandbox.app) browser = known.display_name;
  }
  const auto extra = registration_options(run, lists, *folder.format);
  return host + " is outside the " + where + ", which cannot start it\n" +
         flatpak_advice({browser, sandbox, *options.manifest_dir, *folder.format, host, extra});
}

// For each chosen browser also packaged as Flatpak or snap here, what it
// takes to use the host there. Nothing is written into a sandbox unasked.
void explain_sandboxes(const Run& run, const AllowLists& lists,
                       const std::vector<ManifestFolder>& folders, const std::string& host) {
  if (run.places.os != Os::linux_os) return;
  const std::string& home = run.places.base.home;
  std::set<const BrowserInfo*> explained;
  for (const ManifestFolder& folder : folders) {
    const BrowserInfo& browser = *folder.browser;
    if (!explained.insert(&browser).second) continue;
    if (auto flatpak = flatpak_of(browser, home); flatpak && is_directory(flatpak->root)) {
      const auto extra = registration_options(run, lists, browser.format);
      print_out("\n" + flatpak_advice({browser.display_name, *flatpak,
                                       flatpak_manifest_directory(browser, *flatpak),
                                       browser.format, host, extra}));
    }
    if (browser.snap_name.empty()) continue;
    const std::string snap_bin = join_below(join_below(run.root(), "snap/bin"), browser.snap_name);
    if (is_directory(join_below(join_below(home, "snap"), browser.snap_name)) || exists(snap_bin)) {
      auto user = manifest_directories(browser, run.places.os, Scope::user, run.places.base);
      print_out("\n" + snap_advice(browser, user ? user->front() : "its usual folders"));
    }
  }
}

bool contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// The valid entries of the manifest `file` in `folder` and then those of
// `given` it lacks, so that a second install adds to the first; `kept`
// counts the entries that only the manifest had.
std::vector<std::string> merged_allow_list(int folder, const std::string& file,
                                           ManifestFormat format,
                                           const std::vector<std::string>& given, std::size_t& kept) {
  std::vector<std::string> merged;
  if (auto text = read_small_file(folder, file, kManifestLimit)) {
    if (auto old = parse_json(*text)) {
      for (std::string& item : allow_list(*old, format)) {
        const bool valid = format == ManifestFormat::chromium ? validate_allowed_origin(item).ok()
                                                              : validate_allowed_extension(item).ok();
        if (valid && !contains(merged, item)) merged.push_back(std::move(item));
      }
    }
  }
  kept = 0;
  kept = static_cast<std::size_t>(std::count_if(
      merged.begin(), merged.end(), [&](const std::string& item) { return !contains(given, item); }));
  for (const auto& item : given) {
    if (!contains(merged, item)) merged.push_back(item);
  }
  return merged;
}

// The folder `directory`, made where missing, as open_folder_below gives it.
Result<std::optional<UniqueFd>> made_folder(const Anchor& anchor, const std::string& directory) {
  std::vector<std::string> made;
  auto folder = make_folder_below(anchor.base, directory, anchor.entries, made);
  if (!folder) return std::move(folder).error();
  return std::optional<UniqueFd>(std::move(*folder));
}

// One manifest folder to write, and whose folder it is.
using Write = std::pair<const ManifestFolder*, std::string>;

// The folders to write, each once: Chrome's channels share their
// machine-wide folder. Alternative folders (Firefox's lib64 one) are
// written where that browser build lives, or instead of the first with
// `lib64`.
std::vector<Write> planned_writes(const std::vector<ManifestFolder>& folders, bool lib64) {
  std::vector<Write> writes;
  std::set<std::string> planned;
  for (const ManifestFolder& folder : folders) {
    for (std::size_t i = 0; i < folder.directories.size(); ++i) {
      const std::string& directory = folder.directories[i];
      const bool alternative = i > 0;
      if (lib64 && folder.directories.size() > 1 && !alternative) continue;
      if (alternative && !lib64 && !is_directory(parent_folder(directory))) continue;
      if (planned.insert(directory).second) writes.emplace_back(&folder, directory);
    }
  }
  return writes;
}

// Whoever can change a folder on the way chooses what the browser runs:
// false when such a folder stops the install (not with --force).
bool folders_are_safe(const Run& run, const std::vector<Write>& writes) {
  std::set<std::string> unsafe;
  for (const auto& [folder, directory] : writes) {
    const Anchor anchor = anchor_of(directory, run.places);
    if (auto problem = find_unsafe_folder(directory, anchor.checked_below, anchor.trusted)) {
      unsafe.insert(*problem);
    }
  }
  for (const std::string& problem : unsafe) {
    print_error(run.options.force ? "warning: " + problem : problem + "; --force installs anyway");
  }
  return unsafe.empty() || run.options.force;
}

// Writes the manifest in `directory` (or shows it, for a dry run), keeping
// what the manifest there allowed unless told otherwise.
Result<void> write_manifest(const Run& run, const Write& write, const ChosenHost& host,
                            const AllowLists& lists) {
  const InstallerOptions& options = run.options;
  const auto& [folder, directory] = write;
  const ManifestFormat format = *folder->format;
  const std::string file = manifest_file_name(options.name);
  const std::string path = join_below(directory, file);
  const Anchor anchor = anchor_of(directory, run.places);
  auto opened = options.dry_run ? open_folder_below(anchor.base, directory)
                                : made_folder(anchor, directory);
  if (!opened) return std::move(opened).error();
  std::size_t kept = 0;
  ManifestContent content{options.name, options.description, host.path, lists.origins,
                          lists.extensions};
  if (*opened && !options.replace_origins) {
    auto& allowed = format == ManifestFormat::chromium ? content.allowed_origins
                                                       : content.allowed_extensions;
    allowed = merged_allow_list((*opened)->get(), file, format, allowed, kept);
  }
  const std::string text = manifest_text(format, content);
  const std::string note = kept > 0 ? " (kept " + count_of(kept, format) + " it allowed before)" : "";
  if (options.dry_run) {
    print_out("would write " + path + note + "\n" + text);
    return {};
  }
  if (auto done = replace_file((*opened)->get(), file, text, anchor.entries, 0644); !done) {
    return std::move(done).error().prefixed("cannot write " + path + ": ");
  }
  print_out("wrote " + path + note + "\n");
  return {};
}

int run_install(const Run& run) {
  const InstallerOptions& options = run.options;
  if (options.browsers.empty() && !options.manifest_dir) {
    print_error("install needs --browser=NAME or --manifest-dir=DIR (see --help)");
    return kExitUsage;
  }
  // Everything is checked before the first file is written.
  std::vector<Error> errors;
  std::vector<std::string> refusals;  // with advice, printed after the errors
  const auto check = [&](Result<void> result) {
    if (!result) errors.push_back(std::move(result).error());
  };
  std::vector<ManifestFolder> folders;
  if (options.manifest_dir) {
    if (!options.format) {
      errors.emplace_back("--manifest-dir needs --format=chromium or --format=firefox");
    } else {
      folders.push_back(named_folder(*options.manifest_dir, options.format, run.places));
      if (options.scope && !(folders.back().sandbox && options.scope == Scope::system)) {
        errors.emplace_back("--manifest-dir names the folder itself; drop --" +
                            std::string(scope_name(*options.scope)));
      }
    }
  } else {
    const Scope scope[] = {options.scope.value_or(Scope::user)};
    folders = browser_folders(options.browsers, run.places, scope, &errors);
    if (folders.empty() && errors.empty()) {
      errors.emplace_back("none of the chosen browsers has a " + std::string(scope_name(scope[0])) +
                          " folder on " + std::string(os_name(run.places.os)));
    }
  }
  auto host = choose_host(run, any_under_root(folders));
  if (!host) errors.push_back(std::move(host).error());
  check(validate_description(options.description));
  const AllowLists lists = allow_lists(run);
  for (const auto& origin : lists.origins) check(validate_allowed_origin(origin));
  for (const auto& id : lists.extensions) check(validate_allowed_extension(id));

  // A format with no ID to allow is left out, unless nothing would be left.
  std::vector<ManifestFolder> writable;
  std::map<ManifestFormat, std::string> skipped;  // the browsers left out
  for (ManifestFolder& folder : folders) {
    if (!lists.of(*folder.format).empty()) {
      writable.push_back(std::move(folder));
      continue;
    }
    std::string& names = skipped[*folder.format];
    if (!names.empty()) names += ", ";
    names += folder.browser != nullptr ? folder.browser->name : "custom";
  }
  if (writable.empty() && !folders.empty()) {
    if (skipped.count(ManifestFormat::chromium) != 0) {
      errors.emplace_back(
          "the Chromium format needs at least one --allowed-origin=chrome-extension://<id>/");
    }
    if (skipped.count(ManifestFormat::firefox) != 0) {
      errors.emplace_back("the Firefox format needs at least one --allowed-extension=<add-on id>");
    }
    skipped.clear();
  }
  if (host && writable.size() == 1 && writable.front().sandbox) {
    if (auto refusal = sandbox_refusal(run, lists, writable.front(), host->path)) {
      refusals.push_back(*refusal);
    }
  }
  if (!errors.empty() || !refusals.empty()) {
    for (const Error& error : errors) print_error(error.text());
    for (const std::string& refusal : refusals) print_error(refusal.substr(0, refusal.size() - 1));
    return kExitUsage;
  }
  for (const auto& [format, names] : skipped) {
    print_error(format == ManifestFormat::chromium
                    ? "note: skipped " + names +
                          ": no extension ID is built in or given with --allowed-origin"
                    : "note: skipped " + names +
                          ": no add-on ID is built in or given with --allowed-extension");
  }
  print_out(host->origin_note);

  const std::vector<Write> writes = planned_writes(writable, options.lib64);
  if (!folders_are_safe(run, writes)) return kExitUsage;
  if (host->given && access(host->on_disk.c_str(), X_OK) != 0) {
    const std::string where = host->on_disk == host->path ? "on this system" : "under " + run.root();
    print_error("warning: " + host->path + " is not an executable file " + where);
  }
  report_config_home(run, writable);

  int status = 0;
  for (const Write& write : writes) {
    if (auto done = write_manifest(run, write, *host, lists); !done) {
      print_error(done.error().text());
      status = kExitFailure;
    }
  }
  if (options.manifest_dir) {
    if (writable.front().sandbox) print_out(proxied_environment_note());
  } else {
    explain_sandboxes(run, lists, writable, host->path);
  }
  return status;
}

int run_list(const Run& run) {
  const std::vector<ManifestFolder> folders = chosen_folders(run, true);
  report_config_home(run, folders);
  const auto found = find_installed_manifests(folders, run.options.name, run.places);
  int status = 0;
  for (const InstalledManifest& manifest : found) {
    if (manifest.health != Health::ok) status = kExitFailure;
    print_out(folder_label(*manifest.folder) + " " + manifest.path + " " +
              describe_manifest(manifest) + "\n");
  }
  if (found.empty()) print_out("no " + manifest_file_name(run.options.name) + " manifest installed\n");
  return status;
}

// Writes `text` over the file at `path` (mode `mode`), found below its anchor.
Result<void> rewrite(const Run& run, const std::string& path, std::string_view text, mode_t mode) {
  const std::string directory = parent_folder(path);
  const Anchor anchor = anchor_of(directory, run.places);
  auto folder = open_folder_below(anchor.base, directory);
  if (!folder) return std::move(folder).error();
  if (!*folder) return Error("its folder is gone");
  return replace_file((*folder)->get(), last_component(path), text, anchor.entries, mode);
}

int run_repair(const Run& run) {
  const std::vector<ManifestFolder> folders = chosen_folders(run, false);
  auto host = choose_host(run, any_under_root(folders));
  if (!host) {
    print_error(host.error().text());
    return kExitUsage;
  }
  print_out(host->origin_note);
  const auto found = find_installed_manifests(folders, run.options.name, run.places);
  const std::string_view would = run.options.dry_run ? "would repair " : "repaired ";
  int status = 0;
  for (const InstalledManifest& manifest : found) {
    if (!manifest.manifest || !manifest.host) {
      print_error("cannot repair " + manifest.path + " (" + manifest.problem + "); install it again");
      status = kExitFailure;
      continue;
    }
    const std::optional<Sandbox>& sandbox = manifest.folder->sandbox;
    // In a Flatpak the manifest names the wrapper, which starts the host.
    const bool wrapped = manifest.wrapper_host.has_value();
    if (sandbox && !wrapped) {
      print_out("left " + manifest.path + ": it names no wrapper of ours inside the " +
                std::string(sandbox_kind_name(sandbox->kind)) + "\n");
      continue;
    }
    const std::string& old = wrapped ? *manifest.wrapper_host : *manifest.host;
    const std::string path = wrapped ? *manifest.host : manifest.path;
    if (old == host->path) {
      print_out("unchanged " + path + "\n");
      continue;
    }
    Result<void> done;
    if (!run.options.dry_run) {
      done = wrapped ? rewrite(run, path, flatpak_wrapper_text(host->path), 0755)
                     : rewrite(run, path, manifest_text(manifest.manifest->with_string_member(
                                              "path", host->path)),
                               0644);
    }
    if (!done) {
      print_error("cannot repair " + path + ": " + done.error().text());
      status = kExitFailure;
      continue;
    }
    print_out(std::string(would) + path + " (was -> " + old + ")\n");
  }
  if (found.empty()) print_out("no " + manifest_file_name(run.options.name) + " manifest to repair\n");
  return status;
}

// Removes the entry at `path` and then the folders above it that are left
// empty and are the browser's own (`own_folders`), reporting each.
Result<void> remove_with_folders(const Run& run, const std::string& path, std::size_t own_folders) {
  const std::string directory = parent_folder(path);
  if (run.options.dry_run) {
    print_out("would remove " + path + "\n");
    return {};
  }
  const Anchor anchor = anchor_of(directory, run.places);
  auto folder = open_folder_below(anchor.base, directory);
  if (!folder) return std::move(folder).error();
  if (!*folder) return {};
  if (auto removed = remove_entry((*folder)->get(), last_component(path)); !removed) {
    return std::move(removed).error().prefixed("cannot remove " + path + ": ");
  }
  print_out("removed " + path + "\n");
  for (const std::string& emptied : remove_empty_folders(anchor.base, directory, own_folders)) {
    print_out("removed " + emptied + "/\n");
  }
  return {};
}

int run_remove(const Run& run) {
  const std::vector<ManifestFolder> folders = chosen_folders(run, false);
  report_config_home(run, folders);
  const auto found = find_installed_manifests(folders, run.options.name, run.places);
  int status = 0;
  for (const InstalledManifest& manifest : found) {
    Result<void> done = remove_with_folders(run, manifest.path, manifest.folder->own_folders);
    // The wrapper a Flatpak manifest names goes with it, and so would the
    // escape that lets the sandbox start it.
    if (done && manifest.wrapper_host) {
      done = remove_with_folders(run, *manifest.host, kFlatpakWrapperOwnFolders);
      if (done) {
        print_out("The Flatpak may still start programs outside its sandbox; to withdraw that, run:\n" +
                  flatpak_escape_withdrawal(*manifest.folder->sandbox) + "\n");
      }
    }
    if (!done) {
      print_error(done.error().text());
      status = kExitFailure;
    }
  }
  if (found.empty()) print_out("no " + manifest_file_name(run.options.name) + " manifest to remove\n");
  return status;
}

}  // namespace

int run_installer(std::span<char* const> args, const InstallerDefaults& defaults) {
  auto parsed = parse_installer_options(args);
  if (!parsed) {
    print_error(parsed.error().text() + " (see --help)");
    return kExitUsage;
  }
  const InstallerOptions& options = *parsed;
  if (options.help || options.version) {
    print_out(options.help ? installer_usage() : version_line(kProgram));
    return 0;
  }
  const Run run{options, defaults, find_places(options.os, options.home, options.root)};
  if (geteuid() == 0 && options.command != Command::list && !options.home &&
      !options.manifest_dir && options.scope != Scope::system) {
    print_error("note: run as root without --system, this works on root's own manifests; "
                "--system is for every user of the machine, --home=DIR for one user");
  }
  switch (options.command) {
    case Command::install: return run_install(run);
    case Command::list: return run_list(run);
    case Command::repair: return run_repair(run);
    case Command::remove: return run_remove(run);
  }
  return kExitFailure;
}

}  // namespace vk

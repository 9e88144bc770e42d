// Which folders hold a user's or the machine's host manifests, and what each
// manifest found there says and whether a browser could start its host.
// The installer's list, repair and remove are built on it, and so can be
// any other program that checks an installation; printing is apart
// (describe_manifest).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/json.h"
#include "native_messaging/result.h"
#include "tools/anchored_files.h"
#include "tools/browser_sandbox.h"
#include "tools/host_manifest.h"

namespace vk {

// A manifest is a few hundred bytes; anything far larger is not one of ours.
inline constexpr std::size_t kManifestLimit = 64 * 1024;

// Where a run's manifests are: the home and root they are under, the
// Chromium family's config home, and the home's owner.
struct Places {
  Os os = Os::linux_os;
  LocationBase base;
  ConfigHome config;  // used only for Chromium-family per-user folders on Linux
  std::optional<uid_t> home_uid;  // the home's owner, when it exists
  std::optional<gid_t> home_gid;
};

// The places for `home` (none: $HOME, else the passwd entry of the real
// user) and `root`. Without `home` the Chromium family's config home comes
// from the environment; another home is taken as a fresh login sees it.
Places find_places(Os os, const std::optional<std::string>& home, std::string root);

// Below which folder `directory` is reached without following links, what
// the folders and files made there get (a home's are its owner's alone, and
// root hands them to that owner), and whose folders on the way may be.
struct Anchor {
  std::string base;
  NewEntries entries;
  std::vector<uid_t> trusted;  // owners besides root and the effective user
  // Folders above this one are the staging tree's, not the installed
  // system's: their safety is not the manifests' ("/": all count).
  std::string checked_below = "/";
};
Anchor anchor_of(std::string_view directory, const Places& places);

// One set of folders a run reads or writes.
struct ManifestFolder {
  const BrowserInfo* browser = nullptr;  // none for a folder named with --manifest-dir
  std::string_view scope;                // "user", "system", "dir" or the sandbox kind
  std::optional<ManifestFormat> format;  // none: a named folder of either format
  // The first is written; the others only where their browser build lives.
  std::vector<std::string> directories;
  std::optional<Sandbox> sandbox;
  bool under_root = false;  // its manifests name hosts inside the root
  // How many folders at the end of each directory are the browser's own,
  // removed with the manifest when they are left empty.
  std::size_t own_folders = 1;
};

// "chrome user", "custom dir", "firefox flatpak".
std::string folder_label(const ManifestFolder& folder);

// A browser chosen for a run; one named outright must have a folder where
// asked, one chosen by "all" is left out where it has none.
struct ChosenBrowser {
  const BrowserInfo* browser;
  bool by_name;
};

// Every known browser, chosen by "all".
std::vector<ChosenBrowser> all_browsers();

// The chosen browsers' folders in `scopes` (every browser when none is
// chosen). A browser named outright that has no folder there adds an error.
std::vector<ManifestFolder> browser_folders(std::span<const ChosenBrowser> browsers,
                                            const Places& places, std::span<const Scope> scopes,
                                            std::vector<Error>* errors);

// The folders of the chosen browsers' Flatpaks on Linux, installed or not.
std::vector<ManifestFolder> flatpak_folders(std::span<const ChosenBrowser> browsers,
                                            const Places& places);

// Every known browser's folders for the user and the machine, with their
// Flatpak folders: wherever a browser here may look for a manifest.
std::vector<ManifestFolder> every_browser_folder(const Places& places);

// A folder named outright. Inside the home it is taken as it is; elsewhere
// it lies under the root, like the machine-wide folders.
ManifestFolder named_folder(std::string_view directory, std::optional<ManifestFormat> format,
                            const Places& places);

// What is wrong with a manifest, for a browser that reads it.
enum class Health {
  ok,
  unreadable,    // the folder or the file cannot be read, or is not a manifest
  wrong_format,  // its allow-list is not the one its folder's browsers read
  host_broken,   // its host (or the host its Flatpak wrapper starts) cannot run
};

// One manifest found.
struct InstalledManifest {
  const ManifestFolder* folder = nullptr;
  std::string path;
  std::optional<JsonValue> manifest;     // when it could be read as JSON
  std::optional<ManifestFormat> format;  // the allow-list it has
  std::optional<std::string> host;       // its "path"
  std::optional<std::string> wrapper_host;  // what its Flatpak wrapper starts
  Health health = Health::ok;
  std::string problem;  // "missing", "not JSON: ..."; empty when healthy
};

// The manifests named `host_name` in `folders`, in their order, each path
// once; a folder that cannot be looked into is an entry too.
std::vector<InstalledManifest> find_installed_manifests(std::span<const ManifestFolder> folders,
                                                        std::string_view host_name,
                                                        const Places& places);

// "-> /usr/bin/vellumkeep-native (missing)": what a listing shows after the
// manifest's path, every text from the file made printable.
std::string describe_manifest(const InstalledManifest& found);

}  // namespace vk

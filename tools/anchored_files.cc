#include "tools/anchored_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "native_messaging/fd_io.h"
#include "tools/host_manifest.h"

namespace vk {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The components of `path` below `base`, which holds it.
std::vector<std::string_view> components_below(std::string_view base, std::string_view path) {
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  std::string_view rest = path.substr(std::min(base.size(), path.size()));
  std::vector<std::string_view> parts;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return parts;
}

bool is_link(int folder, std::string_view name) {
  struct stat info {};
  return fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(info.st_mode);
}

// The error of a failed open of `name` in `folder`, named by its `path`.
Error folder_error(std::string_view verb, const std::string& path, int folder,
                   std::string_view name, std::string_view base, int code) {
  const std::string prefix = "cannot " + std::string(verb) + " directory " + path + ": ";
  if (is_link(folder, name)) {
    return Error(prefix + "it is a symbolic link, and none is followed below " + std::string(base));
  }
  return Error::from_errno(code).prefixed(prefix);
}

Result<void> give_entry(int fd, const NewEntries& entries, mode_t mode) {
  if (fchmod(fd, mode) != 0) return Error::from_errno(errno);
  if (entries.uid &&
      fchown(fd, *entries.uid, entries.gid.value_or(static_cast<gid_t>(-1))) != 0) {
    return Error::from_errno(errno);
  }
  return {};
}

// mkdir -p of the base itself, following links: the invoker named it.
Result<void> make_base(const std::string& base, mode_t mode) {
  struct stat info {};
  if (base.empty() || stat(base.c_str(), &info) == 0) return {};
  if (auto parent = make_base(parent_folder(base), mode); !parent) return parent;
  if (mkdir(base.c_str(), mode) != 0 && errno != EEXIST) {
    return Error::from_errno(errno).prefixed("cannot create directory " + base + ": ");
  }
  return {};
}

// Opens `path` below `base`, making what is missing when given `entries`;
// none when something is missing and is not to be made.
Result<std::optional<UniqueFd>> walk_below(std::string_view base, std::string_view path,
                                           const NewEntries* entries, std::vector<std::string>* made) {
  const std::string_view verb = entries != nullptr ? "create" : "open";
  if (!path_is_within(path, base)) {
    return Error("cannot " + std::string(verb) + " directory " + std::string(path) +
                 ": it is not below " + std::string(base));
  }
  const std::string base_text(base);
  if (entries != nullptr) {
    if (auto made_base = make_base(base_text, entries->folder_mode); !made_base) {
      return std::move(made_base).error();
    }
  }
  UniqueFd folder(open(base_text.c_str(), kFolderFlags));
  if (!folder.valid() && errno == ENOENT && entries == nullptr) return std::optional<UniqueFd>();
  if (!folder.valid()) {
    return Error::from_errno(errno).prefixed("cannot " + std::string(verb) + " directory " +
                                             base_text + ": ");
  }
  std::string walked = base_text;
  for (std::string_view part : components_below(base, path)) {
    walked = join_below(walked, part);
    const std::string name(part);
    UniqueFd next(openat(folder.get(), name.c_str(), kFolderFlags | O_NOFOLLOW));
    if (!next.valid() && errno == ENOENT && entries != nullptr) {
      // Made closed and opened up once it is ours: no moment it is wider.
      if (mkdirat(folder.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        return folder_error(verb, walked, folder.get(), part, base, errno);
      }
      next = UniqueFd(openat(folder.get(), name.c_str(), kFolderFlags | O_NOFOLLOW));
      if (next.valid()) {
        if (auto given = give_entry(next.get(), *entries, entries->folder_mode); !given) {
          return std::move(given).error().prefixed("cannot create directory " + walked + ": ");
        }
        made->push_back(walked);
      }
    }
    if (!next.valid() && errno == ENOENT && entries == nullptr) return std::optional<UniqueFd>();
    if (!next.valid()) return folder_error(verb, walked, folder.get(), part, base, errno);
    folder = std::move(next);
  }
  return std::optional<UniqueFd>(std::move(folder));
}

}  // namespace

std::string parent_folder(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string_view last_component(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

Result<std::optional<UniqueFd>> open_folder_below(std::string_view base, std::string_view path) {
  return walk_below(base, path, nullptr, nullptr);
}

Result<UniqueFd> make_folder_below(std::string_view base, std::string_view path,
                                   const NewEntries& entries, std::vector<std::string>& made) {
  auto folder = walk_below(base, path, &entries, &made);
  if (!folder) return std::move(folder).error();
  return std::move(**folder);
}

Result<std::string, ReadFailure> read_small_file(int folder, std::string_view name,
                                                 std::size_t limit) {
  const std::string file(name);
  const auto failure = [](ReadProblem problem, int code = 0) {
    return ReadFailure{problem, Error::from_errno(code)};
  };
  // Looked at before opening: opening a device or a FIFO can have effects.
  struct stat info {};
  if (fstatat(folder, file.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return failure(errno == ENOENT ? ReadProblem::missing : ReadProblem::failed, errno);
  }
  if (S_ISLNK(info.st_mode)) return failure(ReadProblem::link);
  if (!S_ISREG(info.st_mode)) return failure(ReadProblem::not_regular);
  UniqueFd fd(openat(folder, file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    return failure(errno == ELOOP ? ReadProblem::link : ReadProblem::failed, errno);
  }
  // It may have been swapped since it was looked at.
  if (fstat(fd.get(), &info) != 0) return failure(ReadProblem::failed, errno);
  if (!S_ISREG(info.st_mode)) return failure(ReadProblem::not_regular);
  if (static_cast<std::size_t>(info.st_size) > limit) return failure(ReadProblem::too_large);
  std::string text(limit + 1, '\0');
  std::size_t used = 0;
  while (used < text.size()) {
    auto got = read_some(fd.get(), std::span<char>(text.data() + used, text.size() - used));
    if (!got) return ReadFailure{ReadProblem::failed, std::move(got).error()};
    if (*got == 0) break;
    used += *got;
  }
  if (used > limit) return failure(ReadProblem::too_large);
  text.resize(used);
  return text;
}

std::string describe_read_failure(const ReadFailure& failure, std::size_t limit) {
  switch (failure.problem) {
    case ReadProblem::missing: return "missing";
    case ReadProblem::link: return "a symbolic link, not followed";
    case ReadProblem::not_regular: return "not a regular file";
    case ReadProblem::too_large: return "larger than " + std::to_string(limit) + " bytes";
    case ReadProblem::failed: break;
  }
  return "unreadable: " + failure.error.text();
}

Result<void> replace_file(int folder, std::string_view name, std::string_view text,
                          const NewEntries& entries, mode_t mode) {
  const std::string file(name);
  std::string temporary;
  UniqueFd fd;
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  for (unsigned attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%ld.%ld.%u", static_cast<long>(getpid()),
                  static_cast<long>(now.tv_nsec), attempt);
    temporary = ".vk-" + file + suffix;
    fd = UniqueFd(openat(folder, temporary.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() && errno != EEXIST) break;
  }
  if (!fd.valid()) return Error::from_errno(errno);
  Result<void> status = give_entry(fd.get(), entries, mode);
  if (status) status = write_all(fd.get(), text);
  if (status && fsync(fd.get()) != 0) status = Error::from_errno(errno);
  if (status) status = fd.close();
  if (status && renameat(folder, temporary.c_str(), folder, file.c_str()) != 0) {
    status = Error::from_errno(errno);
  }
  if (!status) unlinkat(folder, temporary.c_str(), 0);
  return status;
}

bool has_entry(int folder, std::string_view name) {
  struct stat info {};
  return fstatat(folder, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

Result<void> remove_entry(int folder, std::string_view name) {
  if (unlinkat(folder, std::string(name).c_str(), 0) != 0) return Error::from_errno(errno);
  return {};
}

std::vector<std::string> remove_empty_folders(std::string_view base, std::string_view path,
                                              std::size_t count) {
  std::vector<std::string> removed;
  std::string current(path);
  for (std::size_t i = 0; i < count; ++i) {
    // Never the base itself, nor anything outside it.
    if (!path_is_within(current, base) || path_is_within(base, current)) break;
    const std::string parent = parent_folder(current);
    auto folder = open_folder_below(base, parent);
    if (!folder || !*folder) break;
    const std::string name(last_component(current));
    if (unlinkat((*folder)->get(), name.c_str(), AT_REMOVEDIR) != 0) break;
    removed.push_back(current);
    current = parent;
  }
  return removed;
}

std::optional<std::string> find_unsafe_folder(std::string_view path, std::string_view below,
                                              std::span<const uid_t> also_trusted) {
  const auto trusted = [&](uid_t owner) {
    return owner == 0 || owner == geteuid() ||
           std::find(also_trusted.begin(), also_trusted.end(), owner) != also_trusted.end();
  };
  std::string folder = "/";
  const auto parts = components_below("/", path);
  for (std::size_t i = 0; i <= parts.size(); ++i) {
    if (i > 0) folder = join_below(folder, parts[i - 1]);
    struct stat info {};
    if (below != "/" && (!path_is_within(folder, below) || path_is_within(below, folder))) continue;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) break;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const bool sticky = (info.st_mode & S_ISVTX) != 0;
    if (!trusted(info.st_uid)) {
      return folder + " belongs to uid " + std::to_string(info.st_uid) +
             ", who could change the program browsers start";
    }
    if ((info.st_mode & S_IWOTH) != 0 && !sticky) {
      return folder + " is writable by others (mode " + mode +
             "), who could change the program browsers start; run chmod go-w on it";
    }
    if ((info.st_mode & S_IWGRP) != 0 && !sticky) {
      return folder + " is writable by its group (mode " + mode +
             "), whose members could change the program browsers start; run chmod g-w on it";
    }
  }
  return std::nullopt;
}

}  // namespace vk

// Folders and files reached from a trusted base folder through no symbolic
// link. The base is opened as named (the invoker chose it: a home, the
// --root); every folder and file below it is opened with O_NOFOLLOW, so a
// link planted there (by the user whose home root installs into, or by a
// sandboxed browser in its own folder) cannot turn a write, a read or a
// removal to another place. Files are read without waiting on a FIFO and
// never beyond a limit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "native_messaging/result.h"
#include "native_messaging/unique_fd.h"

namespace vk {

// What the folders and files made get, whatever the umask: a mode, and an
// owner when root writes into another user's home.
struct NewEntries {
  mode_t folder_mode = 0755;
  mode_t file_mode = 0644;
  std::optional<uid_t> uid;
  std::optional<gid_t> gid;
};

// Opens the folder `path`, which lies within `base`; none when a folder on
// the way is missing. Fails with "cannot open directory <the folder that
// failed>: <why>".
Result<std::optional<UniqueFd>> open_folder_below(std::string_view base, std::string_view path);

// The same, making the base and every folder below it that is missing
// ("cannot create directory ..." on failure). The folders made below the
// base are appended to `made`.
Result<UniqueFd> make_folder_below(std::string_view base, std::string_view path,
                                   const NewEntries& entries, std::vector<std::string>& made);

// What stood where a small regular file was expected.
enum class ReadProblem { missing, link, not_regular, too_large, failed };

struct ReadFailure {
  ReadProblem problem;
  Error error;  // the platform error, for `failed`
};

// The whole of the regular file `name` in `folder`, if it holds at most
// `limit` bytes.
Result<std::string, ReadFailure> read_small_file(int folder, std::string_view name,
                                                 std::size_t limit);

// What a read failure shows in a listing: "not a regular file" and the like.
std::string describe_read_failure(const ReadFailure& failure, std::size_t limit);

// Writes `text` beside `name` in `folder` and renames it over `name`, so a
// reader sees the old file or the new one, never half of one; the old
// entry, even a link, is replaced rather than written through.
Result<void> replace_file(int folder, std::string_view name, std::string_view text,
                          const NewEntries& entries, mode_t mode);

// Whether `folder` holds an entry `name` of any kind.
bool has_entry(int folder, std::string_view name);

// Removes the entry `name` (a link itself, never what it names).
Result<void> remove_entry(int folder, std::string_view name);

// Removes `path` and then its parents, at most `count` folders, while each
// is empty; stops at the first that is not. Returns the folders removed.
std::vector<std::string> remove_empty_folders(std::string_view base, std::string_view path,
                                              std::size_t count);

// The first folder on the way down to `path` that someone other than root,
// the effective user or `also_trusted` could change: one that another user
// owns, or that its group or others may write (a sticky folder such as /tmp
// excepted, since there only an entry's owner can replace it). Only the
// folders below `below` are looked at, every one from "/" when it is "/".
// Says what is wrong, or nothing when every folder that exists is sound.
std::optional<std::string> find_unsafe_folder(std::string_view path, std::string_view below,
                                              std::span<const uid_t> also_trusted);

// The folder that holds `path`, by its text.
std::string parent_folder(std::string_view path);
// The last component of `path`.
std::string_view last_component(std::string_view path);

}  // namespace vk

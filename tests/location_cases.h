// The socket-location cases that requests and `--doctor` are both held to:
// an environment, and where the host then looks or why it looks nowhere.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e_support.h"

namespace vk::testing {

inline const std::string kNoPrivateDir = "IPC path: no private user directory available";
inline const std::string kRefused =
    "IPC: refusing to connect to /tmp socket \xe2\x80\x94 use a private path (VK_IPC_SOCKET_PATH).";

// Every character that counts as white space around a value, and none that
// merely looks like it.
inline const std::string kAllWhiteSpace =
    "\t\n\v\f\r \u0085\u00a0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009"
    "\u200a\u2028\u2029\u202f\u205f\u3000";

inline std::string group_container_socket(std::string_view home) {
  return std::string(home) + "/Library/Group Containers/" + std::string(kAppGroupId) +
         "/IPC/vellumkeep-native.sock";
}

struct LocationCase {
  std::string name;
  std::vector<std::string> env;
  std::optional<std::string> socket;  // relative paths: to the working directory; none: no location
  bool refused = false;               // `socket` lies in a temporary directory
};

// Each rule in its turn, with trimming and values that are not UTF-8.
inline std::vector<LocationCase> candidate_cases() {
  const std::string h = group_container_socket("h");
  return {
      {"socket variable, trimmed of every white-space character",
       {"VK_IPC_SOCKET_PATH=" + kAllWhiteSpace + "v/s.sock" + kAllWhiteSpace}, "v/s.sock"},
      {"socket variable wins over the container and home",
       {"VK_IPC_SOCKET_PATH=v/s.sock", "VELLUMKEEP_APP_GROUP_CONTAINER=c", "HOME=h"}, "v/s.sock"},
      {"socket variable of blanks only is ignored",
       {"VK_IPC_SOCKET_PATH= \t\u3000", "VELLUMKEEP_APP_GROUP_CONTAINER=c"}, "c/IPC/vellumkeep-native.sock"},
      {"socket variable that is not UTF-8 is ignored",
       {"VK_IPC_SOCKET_PATH=v/s\xff.sock", "VELLUMKEEP_APP_GROUP_CONTAINER=c"}, "c/IPC/vellumkeep-native.sock"},
      {"container with trailing slashes", {"VELLUMKEEP_APP_GROUP_CONTAINER=c///", "HOME=h"},
       "c/IPC/vellumkeep-native.sock"},
      {"container is not trimmed", {"VELLUMKEEP_APP_GROUP_CONTAINER= c"}, " c/IPC/vellumkeep-native.sock"},
      {"container of slashes only is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=///", "HOME=h"}, h},
      {"empty container is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=", "HOME=h"}, h},
      {"container that is not UTF-8 is ignored", {"VELLUMKEEP_APP_GROUP_CONTAINER=c\xff", "HOME=h"}, h},
      {"home wins over the runtime directory", {"HOME=h", "XDG_RUNTIME_DIR=x"}, h},
      {"home is taken as raw bytes", {"HOME=h\xfe"}, group_container_socket("h\xfe")},
      {"home is not trimmed", {"HOME= h"}, group_container_socket(" h")},
  };
}

// Without any home directory (a user with no passwd entry, HOME unset or
// empty): the runtime directory, else no location at all.
inline std::vector<LocationCase> runtime_directory_cases() {
  return {
      {"runtime directory", {"XDG_RUNTIME_DIR=x"}, "x/tarnwick/vellumkeep-native.sock"},
      {"runtime directory trimmed, HOME empty", {"HOME=", "XDG_RUNTIME_DIR=\u3000 x\t\u2029"},
       "x/tarnwick/vellumkeep-native.sock"},
      {"runtime directory with a trailing slash", {"XDG_RUNTIME_DIR=x/"}, "x/tarnwick/vellumkeep-native.sock"},
      {"nothing set", {}, std::nullopt},
      {"runtime directory of blanks only", {"XDG_RUNTIME_DIR= \t "}, std::nullopt},
      {"runtime directory not UTF-8", {"XDG_RUNTIME_DIR=x\xff"}, std::nullopt},
      {"container of slashes only", {"VELLUMKEEP_APP_GROUP_CONTAINER=/", "HOME="}, std::nullopt},
  };
}

// Temporary directories are refused by their components, whichever rule
// leads there; look-alikes are not.
inline std::vector<LocationCase> temporary_directory_cases() {
  struct Row {
    std::string env;
    std::string socket;
    bool refused;
  };
  const std::vector<Row> rows = {
      {"VK_IPC_SOCKET_PATH=/tmp/x.sock", "/tmp/x.sock", true},
      {"VK_IPC_SOCKET_PATH=/tmp/vellumkeep-native.sock", "/tmp/vellumkeep-native.sock", true},
      {"VK_IPC_SOCKET_PATH=/tmp", "/tmp", true},
      {"VK_IPC_SOCKET_PATH=/tmp/", "/tmp/", true},
      {"VK_IPC_SOCKET_PATH=/tmp//y", "/tmp//y", true},
      {"VK_IPC_SOCKET_PATH=//tmp/y", "//tmp/y", true},
      {"VK_IPC_SOCKET_PATH=/tmp/./y", "/tmp/./y", true},
      {"VK_IPC_SOCKET_PATH=/./tmp/y", "/./tmp/y", true},
      {"VK_IPC_SOCKET_PATH=/tmp/a/b/c.sock", "/tmp/a/b/c.sock", true},
      {"VK_IPC_SOCKET_PATH=/var/tmp/z", "/var/tmp/z", true},
      {"VK_IPC_SOCKET_PATH=/var//tmp/z", "/var//tmp/z", true},
      {"VK_IPC_SOCKET_PATH= /tmp/x.sock ", "/tmp/x.sock", true},
      {"VELLUMKEEP_APP_GROUP_CONTAINER=/tmp/c", "/tmp/c/IPC/vellumkeep-native.sock", true},
      {"HOME=/tmp/h", group_container_socket("/tmp/h"), true},
      {"HOME=/var/tmp", group_container_socket("/var/tmp"), true},
      {"VK_IPC_SOCKET_PATH=/tmpx/a.sock", "/tmpx/a.sock", false},
      {"VK_IPC_SOCKET_PATH=/var/tmpx/a.sock", "/var/tmpx/a.sock", false},
      {"VK_IPC_SOCKET_PATH=/private/tmp/x.sock", "/private/tmp/x.sock", false},
      {"VK_IPC_SOCKET_PATH=tmp/x.sock", "tmp/x.sock", false},
      {"VK_IPC_SOCKET_PATH=/x/tmp/y.sock", "/x/tmp/y.sock", false},
  };
  std::vector<LocationCase> cases;
  for (const Row& row : rows) cases.push_back({row.env, {row.env}, row.socket, row.refused});
  return cases;
}

// Characters that look like white space but are not trimmed.
inline std::vector<LocationCase> look_alike_white_space_cases() {
  std::vector<LocationCase> cases;
  for (std::string look_alike : {"\u200b", "\ufeff", "\u180e"}) {
    cases.push_back({"look-alike " + look_alike, {"VK_IPC_SOCKET_PATH=" + look_alike + "v/s.sock"},
                     look_alike + "v/s.sock"});
  }
  return cases;
}

// A user without a passwd entry who can run the programs under test from a
// scratch directory, for runs with no home directory at all; or why there
// is none.
inline Result<uid_t> user_without_home() {
  if (::geteuid() != 0) return Error("needs root, to run the host as a user without a passwd entry");
  std::optional<uid_t> uid;
  for (uid_t candidate = 61'000; candidate < 61'100 && !uid; ++candidate) {
    if (::getpwuid(candidate) == nullptr) uid = candidate;
  }
  if (!uid) return Error("every uid from 61000 to 61099 has a passwd entry");
  // The build tree must be open to another user for the programs to run.
  ScratchDir dir;
  dir.give_to(*uid);
  for (const char* program : {kHostPath, kStandInAppPath}) {
    ChildOptions probe;
    probe.argv = {program, "--help"};
    probe.cwd = dir.path();
    probe.stdin_mode = StdStream::closed;
    probe.uid = uid;
    Result<ChildOutput> ran = run_child(probe);
    if (!ran) return Error("another user cannot run the programs here: " + ran.error().text());
  }
  return *uid;
}

}  // namespace vk::testing

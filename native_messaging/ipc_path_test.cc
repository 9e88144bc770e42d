#include "native_messaging/ipc_path.h"

#include <pwd.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "native_messaging/testing/fake_ipc_environment.h"

namespace vk {
namespace {

using testing::FakeIpcEnvironment;

const std::string kGroup = VK_APP_GROUP_ID_FOR_TESTS;

std::string resolved(const FakeIpcEnvironment& env, LocationTrace* trace = nullptr) {
  Result<std::string, IpcPathError> path = resolve_ipc_socket_path(env, trace);
  return path ? *path : "error " + std::string(ipc_path_error_text(path.error()));
}

TEST(ResolveIpcSocketPath, CandidateTable) {
  struct Case {
    const char* name;
    FakeIpcEnvironment env;
    std::string expected;
  };
  const std::string home_socket =
      "/Users/a/Library/Group Containers/" + kGroup + "/IPC/vellumkeep-native.sock";
  const Case cases[] = {
      {"socket variable, blanks trimmed", {{{"VK_IPC_SOCKET_PATH", " /run/app.sock\t\n"}}}, "/run/app.sock"},
      {"socket variable, Unicode blanks trimmed",
       {{{"VK_IPC_SOCKET_PATH", "\xE3\x80\x80/run/a b.sock\xC2\x85"}}}, "/run/a b.sock"},
      {"socket variable relative, unchanged", {{{"VK_IPC_SOCKET_PATH", "rel//x.sock"}}}, "rel//x.sock"},
      {"socket variable beats everything",
       {{{"VK_IPC_SOCKET_PATH", "/s"}, {"VELLUMKEEP_APP_GROUP_CONTAINER", "/c"}, {"HOME", "/Users/a"}}},
       "/s"},
      {"socket variable blanks only",
       {{{"VK_IPC_SOCKET_PATH", " \xE2\x80\xA8 "}, {"HOME", "/Users/a"}}}, home_socket},
      {"socket variable not UTF-8",
       {{{"VK_IPC_SOCKET_PATH", "/run/\xFF.sock"}, {"HOME", "/Users/a"}}}, home_socket},
      {"container", {{{"VELLUMKEEP_APP_GROUP_CONTAINER", "/c"}}}, "/c/IPC/vellumkeep-native.sock"},
      {"container, trailing slashes stripped",
       {{{"VELLUMKEEP_APP_GROUP_CONTAINER", "/c///"}}}, "/c/IPC/vellumkeep-native.sock"},
      {"container not trimmed", {{{"VELLUMKEEP_APP_GROUP_CONTAINER", " /c "}}},
       " /c /IPC/vellumkeep-native.sock"},
      {"container of slashes only",
       {{{"VELLUMKEEP_APP_GROUP_CONTAINER", "///"}, {"HOME", "/Users/a"}}}, home_socket},
      {"container empty", {{{"VELLUMKEEP_APP_GROUP_CONTAINER", ""}, {"HOME", "/Users/a"}}}, home_socket},
      {"container not UTF-8",
       {{{"VELLUMKEEP_APP_GROUP_CONTAINER", "/c\xC0"}, {"HOME", "/Users/a"}}}, home_socket},
      {"container beats home",
       {{{"VELLUMKEEP_APP_GROUP_CONTAINER", "/c"}, {"HOME", "/Users/a"}}}, "/c/IPC/vellumkeep-native.sock"},
      {"home", {{{"HOME", "/Users/a"}}}, home_socket},
      {"home with trailing slash", {{{"HOME", "/Users/a/"}}}, home_socket},
      {"home as raw bytes", {{{"HOME", "/h\xFF"}}},
       "/h\xFF/Library/Group Containers/" + kGroup + "/IPC/vellumkeep-native.sock"},
      {"home beats runtime dir", {{{"HOME", "/Users/a"}, {"XDG_RUNTIME_DIR", "/run/user/5"}}}, home_socket},
      {"empty home, passwd entry", {{{"HOME", ""}}, "/Users/a"}, home_socket},
      {"no home, passwd entry", {{}, "/Users/a"}, home_socket},
      {"empty home, no passwd entry, runtime dir",
       {{{"HOME", ""}, {"XDG_RUNTIME_DIR", "/run/user/5"}}}, "/run/user/5/tarnwick/vellumkeep-native.sock"},
      {"passwd entry with empty directory",
       {{{"XDG_RUNTIME_DIR", "/run/user/5"}}, ""}, "/run/user/5/tarnwick/vellumkeep-native.sock"},
      {"runtime dir trimmed, trailing slash kept single",
       {{{"XDG_RUNTIME_DIR", "\t/run/user/5/ "}}}, "/run/user/5/tarnwick/vellumkeep-native.sock"},
      {"runtime dir not UTF-8", {{{"XDG_RUNTIME_DIR", "/run/\xFF"}}},
       "error IPC path: no private user directory available"},
      {"runtime dir blank", {{{"XDG_RUNTIME_DIR", "  "}}},
       "error IPC path: no private user directory available"},
      {"nothing at all", {}, "error IPC path: no private user directory available"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resolved(c.env), c.expected) << c.name;
    // Diagnosis resolves through the same rules.
    LocationTrace trace;
    EXPECT_EQ(resolved(c.env, &trace), c.expected) << c.name;
  }
}

// Each source read, in order, with what it held and why it was passed over,
// up to the one chosen.
TEST(ResolveIpcSocketPath, TraceNamesEverySourceRead) {
  using F = LocationFinding;
  const std::optional<std::string> none;
  struct Case {
    const char* name;
    FakeIpcEnvironment env;
    LocationTrace expected;
  };
  const Case cases[] = {
      {"socket variable chosen, nothing else read",
       {{{"VK_IPC_SOCKET_PATH", " /s "}, {"HOME", "/Users/a"}}},
       {{kSocketPathVariable, F::chosen, " /s "}}},
      {"socket variable not UTF-8, container chosen",
       {{{"VK_IPC_SOCKET_PATH", "/\xFF"}, {"VELLUMKEEP_APP_GROUP_CONTAINER", "/c/"}}},
       {{kSocketPathVariable, F::not_utf8, "/\xFF"}, {kAppGroupContainerVariable, F::chosen, "/c/"}}},
      {"blank variables and an empty HOME: the passwd entry",
       {{{"VK_IPC_SOCKET_PATH", "\t"}, {"VELLUMKEEP_APP_GROUP_CONTAINER", "//"}, {"HOME", ""}}, "/Users/a"},
       {{kSocketPathVariable, F::blank, "\t"},
        {kAppGroupContainerVariable, F::blank, "//"},
        {kHomeVariable, F::blank, ""},
        {kPasswdHomeSource, F::chosen, "/Users/a"}}},
      {"no home at all: the runtime directory",
       {{{"XDG_RUNTIME_DIR", "/run/user/5"}}},
       {{kSocketPathVariable, F::unset, none},
        {kAppGroupContainerVariable, F::unset, none},
        {kHomeVariable, F::unset, none},
        {kPasswdHomeSource, F::unset, none},
        {kRuntimeDirVariable, F::chosen, "/run/user/5"}}},
      {"passwd entry without a directory, runtime directory not UTF-8",
       {{{"XDG_RUNTIME_DIR", "/\xC0"}}, ""},
       {{kSocketPathVariable, F::unset, none},
        {kAppGroupContainerVariable, F::unset, none},
        {kHomeVariable, F::unset, none},
        {kPasswdHomeSource, F::blank, ""},
        {kRuntimeDirVariable, F::not_utf8, "/\xC0"}}},
  };
  for (const Case& c : cases) {
    LocationTrace trace;
    (void)resolved(c.env, &trace);
    EXPECT_EQ(trace, c.expected) << c.name;
  }
}

TEST(TemporaryDirectoryRefusal, ComponentWiseTable) {
  struct Case {
    const char* path;
    bool refused;
  };
  const Case cases[] = {
      {"/tmp/vellumkeep-native.sock", true},
      {"/tmp", true},
      {"/tmp/", true},
      {"/tmp/x.sock", true},
      {"/tmp//y", true},
      {"//tmp/x", true},
      {"/./tmp/x", true},
      {"/tmp/./a/b.sock", true},
      {"/var/tmp/z", true},
      {"/var//./tmp", true},
      {"/../tmp/x", true},  // "/.." is "/"
      {"/tmpx", false},
      {"/tmpx/a.sock", false},
      {"/private/tmp/x.sock", false},
      {"/var/tmpx/a", false},
      {"/var", false},
      {"/var/run/tmp/a", false},
      {"/run/app.sock", false},
      {"tmp/x.sock", false},
      {"./tmp/x.sock", false},
      {"../tmp/x.sock", false},
  };
  for (const Case& c : cases) EXPECT_EQ(is_temporary_directory_path(c.path), c.refused) << c.path;
}

TEST(TokenPath, BesideTheSocket) {
  struct Case {
    const char* socket;
    const char* token;
  };
  const Case cases[] = {
      {"/a/b/vellumkeep-native.sock", "/a/b/vellumkeep-native.token"},
      {"/x.sock", "/vellumkeep-native.token"},
      {"x.sock", "vellumkeep-native.token"},
      {"/", "vellumkeep-native.token"},
      {"./x.sock", "./vellumkeep-native.token"},
      {"../x.sock", "../vellumkeep-native.token"},
      {"a//b//", "a/vellumkeep-native.token"},
      {"/a/./b.sock", "/a/vellumkeep-native.token"},
      {"dir/s.sock", "dir/vellumkeep-native.token"},
  };
  for (const Case& c : cases) EXPECT_EQ(token_path_for(c.socket), c.token) << c.socket;
}

TEST(IpcPathError, DisplayTexts) {
  EXPECT_EQ(ipc_path_error_text(IpcPathError::UnsupportedPlatform),
            "IPC path is not supported on this platform");
  EXPECT_EQ(to_error(IpcPathError::NoPrivateDir).text(),
            "IPC path: no private user directory available");
}

TEST(JoinPath, AddsOneSeparatorOnlyWhenMissing) {
  EXPECT_EQ(join_path("/a", "b"), "/a/b");
  EXPECT_EQ(join_path("/a/", "b"), "/a/b");
  EXPECT_EQ(join_path("/", "b"), "/b");
  EXPECT_EQ(join_path("a//", "b/c"), "a//b/c");
}

TEST(ProcessIpcEnvironment, PasswdLookupFindsTheRealUsersHome) {
  const struct passwd* entry = ::getpwuid(::getuid());
  if (entry == nullptr) GTEST_SKIP() << "the real uid has no passwd entry";
  EXPECT_EQ(process_ipc_environment().passwd_home_dir(), std::optional<std::string>(entry->pw_dir));
}

}  // namespace
}  // namespace vk

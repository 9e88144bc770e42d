// The bridge inside the real host, called by a library preloaded into it (a
// caller in the same process): relaying never loads the desktop libraries,
// the first bridge call opens the backends module, and a host without a
// usable module still answers every call, as a machine without desktop
// services would, and still relays.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "biometric_auth/linux/testing/desktop_session_probe.h"
#include "tests/e2e_support.h"

namespace vk::testing {
namespace {

// Not a ping: the stand-in app echoes it.
constexpr std::string_view kRequest = R"({"command":"credentials.lookup","id":1})";
constexpr const char* kBackendsRelease = VK_DESKTOP_BACKENDS_RELEASE;

// The host's environment with the probe preloaded; its keychain calls use
// `service`, and `biometrics` adds the biometric calls.
std::vector<std::string> probe_env(const std::string& service, bool biometrics) {
  std::vector<std::string> env = {std::string(kSocketVariable), "LD_PRELOAD=" VK_BRIDGE_PROBE,
                                  "VK_PROBE_SERVICE=" + service};
  if (biometrics) env.emplace_back("VK_PROBE_BIOMETRICS=1");
  return env;
}

TEST(HostBridge, RelayingLoadsNoDesktopLibrary) {
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  Result<ChildProcess> host = ChildProcess::spawn(host_options(dir));
  ASSERT_TRUE(host) << host.error().text();
  ASSERT_TRUE(host->write_stdin(frame(kRequest)));
  Result<std::string> reply = host->read_stdout_exact(frame(kRequest).size());
  ASSERT_TRUE(reply) << reply.error().text();
  EXPECT_EQ(*reply, frame(kRequest));

  Result<std::string> maps = read_file("/proc/" + std::to_string(host->pid()) + "/maps");
  ASSERT_TRUE(maps) << maps.error().text();
  for (std::string_view library : {"libglib-2.0", "libgio-2.0", "libsecret-1", "desktop-backends.so"}) {
    EXPECT_EQ(maps->find(library), std::string::npos) << library << " is mapped:\n" << *maps;
  }
  host->close_stdin();
  Result<ExitStatus> status = host->wait();
  ASSERT_TRUE(status) << status.error().text();
  EXPECT_TRUE(status->ok()) << status->describe();
}

TEST(HostBridge, FirstCallOpensTheBackendsModule) {
  const std::string unavailable =
      biometric::linux_backend::testing::privateSessionUnavailableReason("org.freedesktop.secrets");
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ScratchDir dir;
  std::optional<StandInApp> app = StandInApp::start(dir);
  ASSERT_TRUE(app);
  // The private session's bus and keyring.
  std::vector<std::string> env = probe_env("com.example.host-bridge", false);
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "HOME", "XDG_RUNTIME_DIR"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  const ChildOutput host = run_host(dir, frame(kRequest), env);
  EXPECT_EQ(host.out, frame(kRequest));
  EXPECT_EQ(host.err,
            "probe: backends mapped before 0\n"
            "probe: store 0 1\n"
            "probe: retrieve 0 12 probe-v\xC3\xA4lue\n"
            "probe: delete 0 1\n"
            "probe: retrieve -1 0 -\n"
            "probe: backends mapped after 1\n");
  EXPECT_TRUE(host.status.ok()) << host.status.describe();
}

TEST(HostBridge, WithoutAUsableModuleTheBridgeAnswersNotAvailable) {
  namespace fs = std::filesystem;
  // Names the module's real path, its folder or the path as the host built it.
  enum class Named { module, folder, given };
  struct Case {
    const char* what;
    const char* module_source;  // copied to the module's place; null: none
    std::string module_text;    // written there instead; empty: nothing
    std::function<void(const std::string& module, const std::string& folder)> spoil;  // null: nothing
    Named named;
    std::string reason;         // after the path named
    bool stays_mapped;          // a module that loaded is never unloaded
    bool needs_root = false;    // to give files to another user
  };
  auto chmod_module = [](mode_t mode) {
    return [mode](const std::string& module, const std::string&) { ASSERT_EQ(::chmod(module.c_str(), mode), 0); };
  };
  auto chmod_folder = [](mode_t mode) {
    return [mode](const std::string&, const std::string& folder) { ASSERT_EQ(::chmod(folder.c_str(), mode), 0); };
  };
  auto give = [](bool folder_too) {
    return [folder_too](const std::string& module, const std::string& folder) {
      ASSERT_EQ(::lchown((folder_too ? folder : module).c_str(), 65533, 65533), 0);
    };
  };
  const std::string this_user = "this user (uid " + std::to_string(::geteuid()) + ")";
  // The module of another release stands for any planted module: were it
  // opened, it would stay mapped, its constructors run.
  const char* planted = VK_OTHER_RELEASE_BACKENDS;
  const std::vector<Case> cases = {
      {"no module", nullptr, "", nullptr, Named::given, ": No such file or directory", false},
      {"not a library", nullptr, std::string(1024, 'x'), nullptr, Named::module, ": invalid ELF header", false},
      {"another release", planted, "", nullptr, Named::module,
       std::string(": built for release 0.0.0-other, not ") + kBackendsRelease, true},
      {"writable by others", planted, "", chmod_module(0646), Named::module,
       ": writable by group or others (mode 0646)", false},
      {"writable by its group", planted, "", chmod_module(0664), Named::module,
       ": writable by group or others (mode 0664)", false},
      {"in a folder others can write", planted, "", chmod_folder(01777), Named::folder,
       ": writable by group or others (mode 1777)", false},
      {"in a folder its group can write", planted, "", chmod_folder(0775), Named::folder,
       ": writable by group or others (mode 0775)", false},
      {"owned by another user", planted, "", give(false), Named::module,
       ": owned by uid 65533, neither root nor " + this_user, false, true},
      {"in a folder another user owns", planted, "", give(true), Named::folder,
       ": owned by uid 65533, neither root nor " + this_user, false, true},
      {"not a file", nullptr, "", [](const std::string& module, const std::string&) {
         ASSERT_EQ(::mkfifo(module.c_str(), 0644), 0);
       }, Named::module, ": not a regular file", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_root && ::geteuid() != 0) {
      std::cout << "[ skipped  ] " << c.what << ": needs root, to give the module to another user\n";
      continue;
    }
    ScratchDir dir;
    // A copy of the host, whose module is looked for beside the copy.
    dir.make_dirs("bin");
    std::error_code error;
    fs::copy_file(kHostPath, dir / "bin/vellumkeep-native", error);
    ASSERT_FALSE(error) << error.message();
    const std::string module = fs::canonical(dir / "bin").string() + "/" VK_BACKENDS_FROM_EXECUTABLE;
    const std::string real_module = fs::weakly_canonical(module).string();
    const std::string folder = fs::path(real_module).parent_path().string();
    fs::create_directories(folder, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    if (c.module_source != nullptr) {
      fs::copy_file(c.module_source, module, error);
      ASSERT_FALSE(error) << error.message();
      ASSERT_EQ(::chmod(module.c_str(), 0755), 0);
    }
    if (!c.module_text.empty()) dir.write_file(fs::relative(real_module, dir.path()).string(), c.module_text);
    if (c.spoil) {
      ASSERT_NO_FATAL_FAILURE(c.spoil(real_module, folder));
    }
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);

    ChildOptions options = host_options(dir, probe_env("com.example.host-bridge", true));
    options.argv = {dir / "bin/vellumkeep-native"};
    Result<ChildOutput> host = run_child(options, frame(kRequest));
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_EQ(host->out, frame(kRequest));
    const std::string named = c.named == Named::module ? real_module : c.named == Named::folder ? folder : module;
    EXPECT_EQ(host->err,
              "probe: backends mapped before 0\n"
              "[vellumkeep-native] biometric and keychain backends unavailable: " +
                  named + c.reason +
                  "\n"
                  "probe: is_available 0 0 0 -7\n"
                  "probe: authenticate 0 -7\n"
                  "probe: store -25291 0\n"
                  "probe: retrieve -1 0 -\n"
                  "probe: delete -1 0\n"
                  "probe: retrieve -1 0 -\n"
                  "probe: backends mapped after " +
                  (c.stays_mapped ? "1\n" : "0\n"));
    EXPECT_TRUE(host->status.ok()) << host->status.describe();
  }
}

}  // namespace
}  // namespace vk::testing

// The bridge inside the real host, called by a library preloaded into it (a
// caller in the same process): relaying never loads the desktop libraries,
// the first bridge call opens the backends module, and a host without a
// usable module still answers every call, as a machine without desktop
// services would, and still relays.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "biometric_auth/linux/desktop_session_probe.h"
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
  struct Case {
    const char* what;
    const char* module_source;  // copied to the module's place; null: none
    std::string module_text;    // written there instead; empty: nothing
    std::string reason;         // after the module's path
    bool stays_mapped;          // a module that loaded is never unloaded
  };
  const std::vector<Case> cases = {
      {"no module", nullptr, "", ": cannot open shared object file: No such file or directory",
       false},
      {"not a library", nullptr, std::string(1024, 'x'), ": invalid ELF header", false},
      {"another release", VK_OTHER_RELEASE_BACKENDS, "",
       std::string(": built for release 0.0.0-other, not ") + kBackendsRelease, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    // A copy of the host, whose module is looked for beside the copy.
    dir.make_dirs("bin");
    std::error_code error;
    fs::copy_file(kHostPath, dir / "bin/vellumkeep-native", error);
    ASSERT_FALSE(error) << error.message();
    const std::string module = fs::canonical(dir / "bin").string() + "/" VK_BACKENDS_FROM_EXECUTABLE;
    if (c.module_source != nullptr || !c.module_text.empty()) {
      fs::create_directories(fs::path(module).parent_path(), error);
      ASSERT_FALSE(error) << error.message();
    }
    if (c.module_source != nullptr) {
      fs::copy_file(c.module_source, module, error);
      ASSERT_FALSE(error) << error.message();
    }
    if (!c.module_text.empty()) dir.write_file(fs::relative(module, dir.path()).string(), c.module_text);
    std::optional<StandInApp> app = StandInApp::start(dir);
    ASSERT_TRUE(app);

    ChildOptions options = host_options(dir, probe_env("com.example.host-bridge", true));
    options.argv = {dir / "bin/vellumkeep-native"};
    Result<ChildOutput> host = run_child(options, frame(kRequest));
    ASSERT_TRUE(host) << host.error().text();
    EXPECT_EQ(host->out, frame(kRequest));
    EXPECT_EQ(host->err,
              "probe: backends mapped before 0\n"
              "[vellumkeep-native] biometric and keychain backends unavailable: " +
                  module + c.reason +
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

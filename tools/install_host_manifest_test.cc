// Runs the installer as a child process against a fake home and root.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kOrigin = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/";
// Any executable does: the installer only warns about a missing host.
const std::string kHost = VK_INSTALLER_PATH;
const std::string kFile = "com.tarnwick.vellumkeep.json";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(VK_TEST_SCRATCH_DIR) / info->name();
    fs::remove_all(dir_);
    fs::create_directories(home());
    fs::create_directories(root());
  }

  fs::path home() const { return dir_ / "home"; }
  fs::path root() const { return dir_ / "root"; }

  // Runs the installer with `args`; with `env`, in exactly that environment.
  Outcome run(std::vector<std::string> args,
              const std::optional<std::vector<std::string>>& env = std::nullopt) const {
    args.insert(args.begin(), VK_INSTALLER_PATH);
    std::vector<std::string> environment = env.value_or(std::vector<std::string>{});
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      if (env) {
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
  }

  // `command` against the fake tree for `os`, then `extra`.
  std::vector<std::string> base_args(const std::string& command, const std::string& os,
                                     const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> args = {command, "--os=" + os, "--home=" + home().string(),
                                     "--root=" + root().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // An install with a host and both allow-lists, then `extra`.
  std::vector<std::string> install_args(const std::string& os,
                                        const std::vector<std::string>& extra = {}) const {
    auto args = base_args("install", os,
                          {"--host-path=" + kHost, "--allowed-origin=" + kOrigin,
                           "--allowed-extension=vault@tarnwick.example"});
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // Every regular file under the fake tree, relative to it.
  std::set<std::string> files() const {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      const auto relative = fs::relative(entry.path(), dir_).string();
      if (entry.is_regular_file() && relative != "stdout" && relative != "stderr") {
        found.insert(relative);
      }
    }
    return found;
  }

  fs::path dir_;
};

struct TreeCase {
  std::string os;
  std::string scope;
  std::string browsers;
  std::set<std::string> files;
};

TEST_F(InstallerTest, WritesEachBrowserLocationForBothOsesAndScopes) {
  const TreeCase cases[] = {
      {"linux", "--user", "all",
       {"home/.config/google-chrome/NativeMessagingHosts/" + kFile,
        "home/.config/google-chrome-beta/NativeMessagingHosts/" + kFile,
        "home/.config/google-chrome-unstable/NativeMessagingHosts/" + kFile,
        "home/.config/chromium/NativeMessagingHosts/" + kFile,
        "home/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts/" + kFile,
        "home/.config/BraveSoftware/Brave-Browser-Beta/NativeMessagingHosts/" + kFile,
        "home/.config/BraveSoftware/Brave-Browser-Nightly/NativeMessagingHosts/" + kFile,
        "home/.config/microsoft-edge/NativeMessagingHosts/" + kFile,
        "home/.config/vivaldi/NativeMessagingHosts/" + kFile,
        "home/.config/vivaldi-snapshot/NativeMessagingHosts/" + kFile,
        "home/.config/opera/NativeMessagingHosts/" + kFile,
        "home/.config/thorium/NativeMessagingHosts/" + kFile,
        "home/.mozilla/native-messaging-hosts/" + kFile,
        "home/.librewolf/native-messaging-hosts/" + kFile}},
      // Chrome's channels share one machine-wide folder, written once.
      {"linux", "--system", "all",
       {"root/etc/opt/chrome/native-messaging-hosts/" + kFile,
        "root/etc/chromium/native-messaging-hosts/" + kFile,
        "root/etc/opt/edge/native-messaging-hosts/" + kFile,
        "root/usr/lib/mozilla/native-messaging-hosts/" + kFile}},
      {"macos", "--user", "chrome,chromium,brave,edge,vivaldi,firefox,chrome-canary,opera",
       {"home/Library/Application Support/Google/Chrome/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Chromium/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/BraveSoftware/Brave-Browser/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Microsoft Edge/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Vivaldi/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Mozilla/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Google/Chrome Canary/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/com.operasoftware.Opera/NativeMessagingHosts/" + kFile}},
      {"macos", "--system", "chrome,chromium,edge,firefox",
       {"root/Library/Google/Chrome/NativeMessagingHosts/" + kFile,
        "root/Library/Application Support/Chromium/NativeMessagingHosts/" + kFile,
        "root/Library/Microsoft/Edge/NativeMessagingHosts/" + kFile,
        "root/Library/Application Support/Mozilla/NativeMessagingHosts/" + kFile}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.os + " " + c.scope);
    fs::remove_all(home());
    fs::remove_all(root());
    const Outcome outcome = run(install_args(c.os, {c.scope, "--browser=" + c.browsers}));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(files(), c.files);
    // One report line per file, naming its full path.
    for (const auto& file : c.files) {
      EXPECT_NE(outcome.out.find("wrote " + (dir_ / file).string() + "\n"), std::string::npos) << file;
    }
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'),
              static_cast<std::ptrdiff_t>(c.files.size()));
  }
}

TEST_F(InstallerTest, ManifestContentPerFamily) {
  const auto args = install_args("linux", {"--browser=chromium,firefox",
                                           "--allowed-origin=chrome-extension://"
                                           "ponmlkjihgfedcbaponmlkjihgfedcba/"});
  ASSERT_EQ(run(args).status, 0);
  EXPECT_EQ(read_file(home() / ".config/chromium/NativeMessagingHosts" / kFile),
            "{\"allowed_origins\":[\"" + kOrigin +
                "\",\"chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/\"],"
                "\"description\":\"Tarnwick password manager native-messaging host\","
                "\"name\":\"com.tarnwick.vellumkeep\",\"path\":\"" +
                kHost + "\",\"type\":\"stdio\"}\n");
  EXPECT_EQ(read_file(home() / ".mozilla/native-messaging-hosts" / kFile),
            "{\"allowed_extensions\":[\"vault@tarnwick.example\"],"
            "\"description\":\"Tarnwick password manager native-messaging host\","
            "\"name\":\"com.tarnwick.vellumkeep\",\"path\":\"" +
                kHost + "\",\"type\":\"stdio\"}\n");
  EXPECT_EQ(fs::status(home() / ".mozilla/native-messaging-hosts" / kFile).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
}

TEST_F(InstallerTest, FirefoxLib64CopyOnlyWhereThatBuildLives) {
  fs::create_directories(root() / "usr/lib64/mozilla");
  ASSERT_EQ(run(install_args("linux", {"--system", "--browser=firefox"})).status, 0);
  EXPECT_EQ(files(), (std::set<std::string>{"root/usr/lib/mozilla/native-messaging-hosts/" + kFile,
                                            "root/usr/lib64/mozilla/native-messaging-hosts/" + kFile}));
}

TEST_F(InstallerTest, ReinstallReplacesTheManifestAndLeavesNoTemporaries) {
  auto args = install_args("linux", {"--browser=chrome"});
  ASSERT_EQ(run(args).status, 0);
  args.push_back("--description=second");
  ASSERT_EQ(run(args).status, 0);
  const auto dir = home() / ".config/google-chrome/NativeMessagingHosts";
  EXPECT_NE(read_file(dir / kFile).find("\"description\":\"second\""), std::string::npos);
  EXPECT_EQ(files(), (std::set<std::string>{"home/.config/google-chrome/NativeMessagingHosts/" + kFile}));
}

struct RefusalCase {
  std::vector<std::string> extra;
  std::string err;
};

TEST_F(InstallerTest, RefusalsWriteNothing) {
  const std::string p = "vk-install-host-manifest: ";
  const RefusalCase cases[] = {
      {{"--browser=chrome", "--host-path=bin/vellumkeep-native"},
       p + "host path must be absolute: \"bin/vellumkeep-native\"\n"},
      {{"--browser=chrome", "--host-path=vellumkeep-native"},
       p + "host path must be absolute: \"vellumkeep-native\"\n"},
      {{"--browser=brave,vivaldi", "--system"},
       p + "Brave documents no system-wide native-messaging location on linux; install it per user\n" +
           p + "Vivaldi documents no system-wide native-messaging location on linux; install it per user\n"},
      {{"--browser=chrome", "--allowed-origin=chrome-extension://abc/"},
       p + "invalid allowed origin \"chrome-extension://abc/\": expected chrome-extension://<32 letters a-p>/\n"},
      {{"--browser=firefox", "--name=Com.Tarnwick"},
       p + "invalid host name \"Com.Tarnwick\": use lowercase letters, digits, '_' and single dots "
           "inside (see --help)\n"},
      {{"--browser=safari"},
       p + "unknown browser \"safari\" (chrome, chrome-beta, chrome-dev, chrome-canary, chromium, brave, "
           "brave-beta, brave-nightly, edge, vivaldi, vivaldi-snapshot, opera, thorium, firefox, "
           "librewolf, all) (see --help)\n"},
      {{"--browser=chrome-canary"},
       p + "Google Chrome Canary has no established per-user folder on linux; name it with --manifest-dir\n"},
      {{"--browser=chrome", "--format=firefox"},
       p + "--format goes with --manifest-dir; a named browser has its own (see --help)\n"},
      {{"--browser=chrome", "--user", "--system"}, p + "--user and --system exclude each other (see --help)\n"},
      {{}, p + "install needs --browser=NAME or --manifest-dir=DIR (see --help)\n"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(install_args("linux", c.extra));
    EXPECT_EQ(outcome.status, 2) << c.err;
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(files().empty()) << c.err;
  }
}

TEST_F(InstallerTest, EachFamilyNeedsItsAllowList) {
  const Outcome outcome =
      run(base_args("install", "linux", {"--host-path=" + kHost, "--browser=edge,firefox"}));
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err,
            "vk-install-host-manifest: the Chromium format needs at least one "
            "--allowed-origin=chrome-extension://<id>/\n"
            "vk-install-host-manifest: the Firefox format needs at least one "
            "--allowed-extension=<add-on id>\n");
  EXPECT_TRUE(files().empty());
}

TEST_F(InstallerTest, UnwritableLocationFailsAndSaysWhere) {
  std::ofstream(home() / ".mozilla") << "a file where a directory belongs";
  const Outcome outcome = run(install_args("linux", {"--browser=firefox,chrome"}));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "vk-install-host-manifest: cannot create directory " +
                             (home() / ".mozilla").string() +
                             ": Not a directory (os error 20)\n");
  // The other browser is still registered.
  EXPECT_EQ(outcome.out,
            "wrote " + (home() / ".config/google-chrome/NativeMessagingHosts" / kFile).string() + "\n");
}

TEST_F(InstallerTest, WarnsOfAHostThatIsNotThereButInstalls) {
  const Outcome outcome =
      run(base_args("install", "linux",
                    {"--host-path=/opt/nowhere/vellumkeep-native", "--browser=chromium",
                     "--allowed-origin=" + kOrigin}));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "vk-install-host-manifest: warning: /opt/nowhere/vellumkeep-native is not an "
            "executable file on this system\n");
  EXPECT_EQ(files().size(), 1u);
}

TEST_F(InstallerTest, DryRunPrintsAndWritesNothing) {
  const Outcome outcome = run(install_args("macos", {"--browser=edge", "--system", "--dry-run"}));
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "would write " +
                             (root() / "Library/Microsoft/Edge/NativeMessagingHosts" / kFile).string() +
                             "\n{\"allowed_origins\":[\"" + kOrigin +
                             "\"],\"description\":\"Tarnwick password manager native-messaging "
                             "host\",\"name\":\"com.tarnwick.vellumkeep\",\"path\":\"" +
                             kHost + "\",\"type\":\"stdio\"}\n");
  EXPECT_TRUE(fs::is_empty(root()));
  EXPECT_TRUE(fs::is_empty(home()));
}

TEST_F(InstallerTest, ListShowsBothScopesAndTheHostEachNames) {
  EXPECT_EQ(run(base_args("list", "linux")).out, "no " + kFile + " manifest installed\n");
  ASSERT_EQ(run(install_args("linux", {"--browser=firefox,chrome"})).status, 0);
  ASSERT_EQ(run(install_args("linux", {"--browser=chromium", "--system"})).status, 0);
  fs::create_directories(home() / ".config/vivaldi/NativeMessagingHosts");
  std::ofstream(home() / ".config/vivaldi/NativeMessagingHosts" / kFile) << "{";

  const Outcome outcome = run(base_args("list", "linux"));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out,
            "chrome user " + (home() / ".config/google-chrome/NativeMessagingHosts" / kFile).string() +
                " -> " + kHost + "\n" +
                // A staged manifest's host is looked for under the root.
                "chromium system " + (root() / "etc/chromium/native-messaging-hosts" / kFile).string() +
                " -> " + kHost + " (missing)\n" +
                "vivaldi user " + (home() / ".config/vivaldi/NativeMessagingHosts" / kFile).string() +
                " (not JSON: EOF while parsing an object at line 1 column 1)\n" +
                "firefox user " + (home() / ".mozilla/native-messaging-hosts" / kFile).string() +
                " -> " + kHost + "\n");

  EXPECT_EQ(run(base_args("list", "linux", {"--system"})).out, "chromium system " +
                                      (root() / "etc/chromium/native-messaging-hosts" / kFile).string() +
                                      " -> " + kHost + " (missing)\n");
}

TEST_F(InstallerTest, RemoveDeletesTheChosenScopeOnly) {
  ASSERT_EQ(run(install_args("macos", {"--browser=all"})).status, 0);
  ASSERT_EQ(run(install_args("macos", {"--browser=chrome", "--system"})).status, 0);

  const auto dry = base_args("remove", "macos", {"--browser=firefox", "--dry-run"});
  const std::string firefox =
      (home() / "Library/Application Support/Mozilla/NativeMessagingHosts" / kFile).string();
  EXPECT_EQ(run(dry).out, "would remove " + firefox + "\n");
  EXPECT_TRUE(fs::exists(firefox));

  const auto one = base_args("remove", "macos", {"--browser=firefox"});
  EXPECT_EQ(run(one).out, "removed " + firefox + "\n");
  EXPECT_FALSE(fs::exists(firefox));
  EXPECT_EQ(run(one).out, "no " + kFile + " manifest to remove\n");

  const Outcome rest = run(base_args("remove", "macos"));
  EXPECT_EQ(rest.status, 0);
  EXPECT_EQ(std::count(rest.out.begin(), rest.out.end(), '\n'), 12);
  EXPECT_EQ(files(), (std::set<std::string>{"root/Library/Google/Chrome/NativeMessagingHosts/" + kFile}));
}

struct ConfigHomeCase {
  std::vector<std::string> variables;  // besides HOME
  std::string chromium_folder;         // relative to the test directory
  std::string out_first_line;          // the note, or the first "wrote" line
  std::string err;
};

// Without --home the installer is the user's own: the variables of the
// session decide where the Chromium family's folders are; Firefox keeps ~.
TEST_F(InstallerTest, ChromiumFamilyFollowsTheConfigHomeVariables) {
  const std::string d = dir_.string();
  const std::string chromium = "/chromium/NativeMessagingHosts/" + kFile;
  const std::string warning = "vk-install-host-manifest: warning: ";
  const std::string host_warning = warning + "/opt/none/vellumkeep-native is not an executable file on this system\n";
  const ConfigHomeCase cases[] = {
      {{}, "home/.config" + chromium, "wrote " + d + "/home/.config" + chromium, host_warning},
      {{"XDG_CONFIG_HOME=" + d + "/xdg"}, "xdg" + chromium,
       "Chromium-family folders are under $XDG_CONFIG_HOME (" + d + "/xdg)", host_warning},
      {{"XDG_CONFIG_HOME=" + d + "/xdg", "CHROME_CONFIG_HOME=" + d + "/cfg"}, "cfg" + chromium,
       "Chromium-family folders are under $CHROME_CONFIG_HOME (" + d + "/cfg)", host_warning},
      {{"XDG_CONFIG_HOME=" + d + "/xdg", "CHROME_CONFIG_HOME=cfg"}, "xdg" + chromium,
       "Chromium-family folders are under $XDG_CONFIG_HOME (" + d + "/xdg)",
       host_warning + warning + "$CHROME_CONFIG_HOME is not an absolute path; ignored\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chromium_folder);
    fs::remove_all(home());
    std::vector<std::string> env = {"HOME=" + home().string()};
    env.insert(env.end(), c.variables.begin(), c.variables.end());
    const Outcome outcome = run({"install", "--os=linux", "--browser=chromium,firefox",
                                 "--host-path=/opt/none/vellumkeep-native", "--allowed-origin=" + kOrigin,
                                 "--allowed-extension=vault@tarnwick.example"},
                                env);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n')), c.out_first_line);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_TRUE(fs::exists(dir_ / c.chromium_folder));
    EXPECT_TRUE(fs::exists(home() / ".mozilla/native-messaging-hosts" / kFile));
    // list finds what install wrote, in the same place.
    const Outcome listed = run({"list", "--os=linux", "--user"}, env);
    EXPECT_NE(listed.out.find("chromium user " + (dir_ / c.chromium_folder).string()), std::string::npos)
        << listed.out;
  }
  // --home stages another home as a fresh login sees it.
  fs::remove_all(home());
  const Outcome staged = run(install_args("linux", {"--browser=chromium"}),
                             std::vector<std::string>{"XDG_CONFIG_HOME=" + d + "/xdg"});
  EXPECT_EQ(staged.out, "wrote " + (home() / ".config" / chromium.substr(1)).string() + "\n");
}

TEST_F(InstallerTest, ManifestDirInstallsListsAndRemoves) {
  const fs::path custom = dir_ / "portable/profile/native-messaging-hosts";
  const std::string flag = "--manifest-dir=" + custom.string();
  const Outcome installed = run(base_args("install", "linux",
                                          {flag, "--format=firefox", "--host-path=" + kHost,
                                           "--allowed-extension=vault@tarnwick.example"}));
  ASSERT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(installed.out, "wrote " + (custom / kFile).string() + "\n");
  EXPECT_EQ(read_file(custom / kFile),
            "{\"allowed_extensions\":[\"vault@tarnwick.example\"],"
            "\"description\":\"Tarnwick password manager native-messaging host\","
            "\"name\":\"com.tarnwick.vellumkeep\",\"path\":\"" + kHost + "\",\"type\":\"stdio\"}\n");
  EXPECT_EQ(run(base_args("list", "linux", {flag})).out,
            "custom dir " + (custom / kFile).string() + " -> " + kHost + "\n");
  EXPECT_EQ(run(base_args("list", "linux")).out, "no " + kFile + " manifest installed\n");
  EXPECT_EQ(run(base_args("remove", "linux", {flag, "--format=firefox"})).out,
            "removed " + (custom / kFile).string() + "\n");
  EXPECT_FALSE(fs::exists(custom / kFile));

  const std::string p = "vk-install-host-manifest: ";
  const RefusalCase refusals[] = {
      {{flag}, p + "--manifest-dir needs --format=chromium or --format=firefox\n"},
      {{"--manifest-dir=relative/dir", "--format=chromium"},
       p + "--manifest-dir must be absolute: \"relative/dir\" (see --help)\n"},
      {{flag, "--format=chromium", "--browser=chrome"},
       p + "--manifest-dir and --browser exclude each other (see --help)\n"},
      {{flag, "--format=chromium", "--system"}, p + "--manifest-dir names the folder itself; drop --system\n"},
      {{flag, "--format=webkit"}, p + "unknown format \"webkit\" (chromium, firefox) (see --help)\n"},
  };
  for (const auto& c : refusals) {
    const Outcome outcome = run(install_args("linux", c.extra));
    EXPECT_EQ(outcome.status, 2) << c.err;
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_FALSE(fs::exists(custom / kFile));
  }
}

struct SandboxCase {
  std::string name;
  std::vector<std::string> installed;  // folders that reveal a sandboxed install
  std::string browsers;
  std::vector<std::string> said;       // in order in the output
};

// A browser installed as Flatpak or snap gets its manifest where the native
// build reads it, and an explanation; nothing is written into the sandbox.
TEST_F(InstallerTest, SandboxedInstallsAreExplainedNotWritten) {
  const std::string chromium_app = (home() / ".var/app/org.chromium.Chromium").string();
  const std::string wrapper = chromium_app + "/data/tarnwick/vellumkeep-native";
  const std::string environment_note =
      "The host then starts outside the sandbox without the browser's environment: "
      "VK_IPC_SOCKET_PATH set for the browser does not reach it.\n";
  const SandboxCase cases[] = {
      {"chromium flatpak",
       {"home/.var/app/org.chromium.Chromium"},
       "chromium",
       {"wrote " + (home() / ".config/chromium/NativeMessagingHosts" / kFile).string() + "\n\n",
        "Chromium is installed as Flatpak org.chromium.Chromium, which reads manifests only inside its "
        "sandbox and cannot start a program outside it. To let it start the host, run:\n\n"
        "# WARNING: the override lets org.chromium.Chromium, and anything that takes it over, run any "
        "program as you outside its sandbox.\n"
        "flatpak override --user --talk-name=org.freedesktop.Flatpak org.chromium.Chromium\n"
        "mkdir -p " + chromium_app + "/data/tarnwick\n"
        "cat > " + wrapper + " <<'EOF'\n#!/bin/sh\n"
        "exec flatpak-spawn --host --watch-bus " + kHost + " \"$@\"\nEOF\n"
        "chmod 755 " + wrapper + "\n"
        "vk-install-host-manifest install --manifest-dir=" + chromium_app +
            "/config/chromium/NativeMessagingHosts --format=chromium --host-path=" + wrapper +
            " --allowed-origin=" + kOrigin + "\n\n" + environment_note}},
      {"firefox snap in the home",
       {"home/snap/firefox"},
       "firefox",
       {"Firefox is installed as a snap, which reads " +
        (home() / ".mozilla/native-messaging-hosts").string() +
        " through the desktop portal and asks you once whether the add-on may start the host. " +
        environment_note}},
      {"chromium snap on the system",
       {"root/snap/bin/chromium"},
       "chromium",
       {"Chromium is installed as a snap, which cannot start native-messaging hosts at all; use a "
        "Chromium that is not a snap with Tarnwick.\n"}},
      {"firefox flatpak and snap", {"home/.var/app/org.mozilla.firefox", "home/snap/firefox"}, "firefox",
       {"Firefox is installed as Flatpak org.mozilla.firefox", "--format=firefox",
        "--allowed-extension=vault@tarnwick.example\n", "Firefox is installed as a snap"}},
      {"no sandbox", {}, "chromium,firefox", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    fs::remove_all(root());
    for (const auto& folder : c.installed) fs::create_directories(dir_ / folder);
    const auto before = files();
    const Outcome outcome = run(install_args("linux", {"--browser=" + c.browsers}));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    std::size_t at = 0;
    for (const auto& text : c.said) {
      at = outcome.out.find(text, at);
      ASSERT_NE(at, std::string::npos) << "missing: " << text << "\nin:\n" << outcome.out;
    }
    if (c.said.empty()) {
      EXPECT_EQ(outcome.out.find("installed as"), std::string::npos);
    }
    for (const auto& file : files()) {
      EXPECT_TRUE(before.count(file) || (file.find("/.var/") == std::string::npos &&
                                         file.find("/snap/") == std::string::npos))
          << file;
    }
  }
}

// A folder inside a sandbox is written only when asked for by name, and only
// with a host the sandbox can start.
TEST_F(InstallerTest, SandboxFoldersTakeOnlyHostsTheSandboxCanStart) {
  const std::string app = (home() / ".var/app/com.brave.Browser").string();
  const std::string folder = app + "/config/BraveSoftware/Brave-Browser/NativeMessagingHosts";
  const std::string snap_folder = (home() / "snap/firefox/common/.mozilla/native-messaging-hosts").string();
  const std::string p = "vk-install-host-manifest: ";
  const struct {
    std::vector<std::string> extra;
    int status;
    std::string err_start;
  } cases[] = {
      {{"--manifest-dir=" + folder, "--format=chromium", "--host-path=" + app + "/data/tarnwick/host"}, 0,
       p + "warning: "},
      {{"--manifest-dir=" + folder, "--format=chromium", "--host-path=" + kHost}, 2,
       p + kHost + " is outside the flatpak com.brave.Browser, which cannot start it\n"
           "Brave is installed as Flatpak com.brave.Browser"},
      {{"--manifest-dir=" + folder, "--format=chromium", "--host-path=" + app + "/../host"}, 2,
       p + app + "/../host is outside the flatpak com.brave.Browser"},
      {{"--manifest-dir=" + folder, "--format=chromium", "--host-path=" + app + "/host", "--system"}, 2,
       p + folder + " is inside the flatpak com.brave.Browser, which reads no machine-wide manifests; "
           "drop --system\n"},
      {{"--manifest-dir=" + snap_folder, "--format=firefox", "--host-path=" + kHost}, 2,
       p + snap_folder + " is inside the snap firefox, which cannot start a program outside itself\n"
           "Firefox is installed as a snap, which reads " +
           (home() / ".mozilla/native-messaging-hosts").string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra.back());
    fs::remove_all(home());
    const Outcome outcome =
        run(base_args("install", "linux",
                      [&] {
                        auto extra = c.extra;
                        extra.push_back("--allowed-origin=" + kOrigin);
                        extra.push_back("--allowed-extension=vault@tarnwick.example");
                        return extra;
                      }()));
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err.substr(0, c.err_start.size()), c.err_start);
    EXPECT_EQ(fs::exists(fs::path(folder) / kFile), c.status == 0);
    if (c.status == 0) {
      EXPECT_EQ(outcome.out, "wrote " + folder + "/" + kFile +
                                 "\nThe host then starts outside the sandbox without the browser's "
                                 "environment: VK_IPC_SOCKET_PATH set for the browser does not reach it.\n");
    }
  }
}

// list says which manifests name a host the browser cannot start, and looks
// into the Flatpak folders of the browsers it knows.
TEST_F(InstallerTest, ListMarksHostsTheBrowserCannotStart) {
  const auto write_manifest = [](const fs::path& folder, const std::string& host) {
    fs::create_directories(folder);
    std::ofstream(folder / kFile) << "{\"path\":\"" + host + "\"}";
  };
  const fs::path not_executable = dir_ / "plain-file";
  std::ofstream(not_executable) << "";
  const fs::path flatpak = home() / ".var/app/org.mozilla.firefox";
  fs::create_directories(flatpak / "bin");
  fs::copy_file(kHost, flatpak / "bin/host");
  fs::create_directories(root() / "usr/bin");
  fs::copy_file(kHost, root() / "usr/bin/host");

  write_manifest(home() / ".config/google-chrome/NativeMessagingHosts", "/opt/nowhere/host");
  write_manifest(home() / ".config/chromium/NativeMessagingHosts", not_executable.string());
  write_manifest(home() / ".config/vivaldi/NativeMessagingHosts", dir_.string());
  write_manifest(home() / ".mozilla/native-messaging-hosts", kHost);
  write_manifest(root() / "etc/chromium/native-messaging-hosts", "/usr/bin/host");  // staged under --root
  write_manifest(flatpak / ".mozilla/native-messaging-hosts", (flatpak / "bin/host").string());
  write_manifest(home() / ".var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts", kHost);

  const Outcome outcome = run(base_args("list", "linux"));
  EXPECT_EQ(outcome.status, 0);
  const auto line = [&](const std::string& label, const fs::path& folder, const std::string& rest) {
    return label + " " + (folder / kFile).string() + " -> " + rest + "\n";
  };
  EXPECT_EQ(outcome.out,
            line("chrome user", home() / ".config/google-chrome/NativeMessagingHosts",
                 "/opt/nowhere/host (missing)") +
                line("chromium user", home() / ".config/chromium/NativeMessagingHosts",
                     not_executable.string() + " (not executable)") +
                line("chromium system", root() / "etc/chromium/native-messaging-hosts", "/usr/bin/host") +
                line("vivaldi user", home() / ".config/vivaldi/NativeMessagingHosts",
                     dir_.string() + " (not executable)") +
                line("firefox user", home() / ".mozilla/native-messaging-hosts", kHost) +
                line("chromium flatpak",
                     home() / ".var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts",
                     kHost + " (outside the flatpak)") +
                line("firefox flatpak", flatpak / ".mozilla/native-messaging-hosts",
                     (flatpak / "bin/host").string()));
  // remove leaves sandbox folders alone unless named with --manifest-dir.
  const Outcome removed = run(base_args("remove", "linux"));
  EXPECT_EQ(std::count(removed.out.begin(), removed.out.end(), '\n'), 4);
  EXPECT_TRUE(fs::exists(flatpak / ".mozilla/native-messaging-hosts" / kFile));
}

// On macOS the host is an app-like bundle: given the bundle, the installer
// names the executable inside it, and list explains a manifest that names
// the bundle itself.
TEST_F(InstallerTest, AnAppBundleStandsForItsExecutable) {
  const fs::path bundle = dir_ / "vellumkeep-native.app";
  const fs::path executable = bundle / "Contents/MacOS/vellumkeep-native";
  fs::create_directories(executable.parent_path());
  fs::copy_file(kHost, executable);

  const Outcome installed =
      run(base_args("install", "macos",
                    {"--host-path=" + bundle.string() + "/", "--browser=chrome",
                     "--allowed-origin=" + kOrigin}));
  ASSERT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(installed.err, "");
  const fs::path chrome = home() / "Library/Application Support/Google/Chrome/NativeMessagingHosts";
  EXPECT_NE(read_file(chrome / kFile).find("\"path\":\"" + executable.string() + "\""),
            std::string::npos);

  std::ofstream(chrome / kFile) << "{\"path\":\"" + bundle.string() + "\"}";
  EXPECT_EQ(run(base_args("list", "macos")).out,
            "chrome user " + (chrome / kFile).string() + " -> " + bundle.string() +
                " (a bundle: name its executable " + executable.string() + ")\n");
}

}  // namespace

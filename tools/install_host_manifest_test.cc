// Runs the installer as a child process against a fake home and root.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
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

  // Runs the installer with `args`; with `env`, in exactly that environment;
  // with `mask`, under that umask.
  Outcome run(std::vector<std::string> args,
              const std::optional<std::vector<std::string>>& env = std::nullopt,
              std::optional<mode_t> mask = std::nullopt) const {
    return run_program(VK_INSTALLER_PATH, std::move(args), env, mask);
  }

  // The same for the program at `program`, with nothing on standard input.
  Outcome run_program(const std::string& program, std::vector<std::string> args,
                      const std::optional<std::vector<std::string>>& env = std::nullopt,
                      std::optional<mode_t> mask = std::nullopt) const {
    args.insert(args.begin(), program);
    std::vector<std::string> environment = env.value_or(std::vector<std::string>{});
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      if (mask) umask(*mask);
      // A hang fails the test instead of stopping the suite.
      alarm(30);
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
  EXPECT_EQ(outcome.status, 1);  // two entries are broken
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
  const fs::path mozilla = home() / "Library/Application Support/Mozilla";
  // With the manifest go the browser's folders it leaves empty.
  EXPECT_EQ(run(one).out, "removed " + firefox + "\nremoved " + (mozilla / "NativeMessagingHosts").string() +
                              "/\nremoved " + mozilla.string() + "/\n");
  EXPECT_FALSE(fs::exists(mozilla));
  EXPECT_EQ(run(one).out, "no " + kFile + " manifest to remove\n");

  const Outcome rest = run(base_args("remove", "macos"));
  EXPECT_EQ(rest.status, 0);
  std::size_t manifests = 0;
  for (std::size_t at = 0; (at = rest.out.find(".json\n", at)) != std::string::npos; ++at) ++manifests;
  EXPECT_EQ(manifests, 12u);
  EXPECT_EQ(files(), (std::set<std::string>{"root/Library/Google/Chrome/NativeMessagingHosts/" + kFile}));
  std::set<std::string> left;
  for (const auto& entry : fs::recursive_directory_iterator(home())) {
    left.insert(fs::relative(entry.path(), home()).string());
  }
  EXPECT_EQ(left, (std::set<std::string>{"Library", "Library/Application Support"}));
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
  // Without --home, root is told what it registers.
  const std::string root_note =
      geteuid() == 0 ? "vk-install-host-manifest: note: run as root without --system, this works on "
                       "root's own manifests; --system is for every user of the machine, --home=DIR "
                       "for one user\n"
                     : "";
  const std::string host_warning =
      root_note + warning + "/opt/none/vellumkeep-native is not an executable file on this system\n";
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
  // --home stages another home as a fresh login sees it, and says so.
  fs::remove_all(home());
  const Outcome staged = run(install_args("linux", {"--browser=chromium"}),
                             std::vector<std::string>{"XDG_CONFIG_HOME=" + d + "/xdg"});
  EXPECT_EQ(staged.out, "wrote " + (home() / ".config" / chromium.substr(1)).string() + "\n");
  EXPECT_EQ(staged.err, "vk-install-host-manifest: note: $XDG_CONFIG_HOME is not used with --home; "
                        "Chromium-family folders are under " + (home() / ".config").string() + "\n");
}

TEST_F(InstallerTest, ManifestDirInstallsListsAndRemoves) {
  const fs::path custom = home() / "portable/profile/native-messaging-hosts";
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
            "removed " + (custom / kFile).string() + "\nremoved " + custom.string() + "/\n");
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

// list says which manifests a browser could not use, exiting 1 when any is
// broken, and looks into the Flatpak folders of the browsers it knows and
// through the wrappers there.
TEST_F(InstallerTest, ListMarksHostsTheBrowserCannotStart) {
  const auto write_manifest = [](const fs::path& folder, const std::string& host,
                                 const std::string& lists = R"("allowed_extensions":[],"allowed_origins":[],)") {
    fs::create_directories(folder);
    std::ofstream(folder / kFile) << "{" + lists + "\"path\":\"" + host + "\"}";
  };
  const auto write_wrapper = [](const fs::path& app, const std::string& host) {
    const fs::path wrapper = app / "data/tarnwick/vellumkeep-native";
    fs::create_directories(wrapper.parent_path());
    std::ofstream(wrapper) << "#!/bin/sh\nexec flatpak-spawn --host --watch-bus " + host + " \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    return wrapper.string();
  };
  const fs::path not_executable = dir_ / "plain-file";
  std::ofstream(not_executable) << "";
  const fs::path flatpak = home() / ".var/app/org.mozilla.firefox";
  fs::create_directories(flatpak / "bin");
  fs::copy_file(kHost, flatpak / "bin/host");
  fs::create_directories(root() / "usr/bin");
  fs::copy_file(kHost, root() / "usr/bin/host");
  const fs::path brave = home() / ".var/app/com.brave.Browser";
  const fs::path edge = home() / ".var/app/com.microsoft.Edge";
  const std::string brave_wrapper = write_wrapper(brave, "/opt/gone/host");
  const std::string edge_wrapper = write_wrapper(edge, kHost);

  write_manifest(home() / ".config/google-chrome/NativeMessagingHosts", "/opt/nowhere/host");
  write_manifest(home() / ".config/chromium/NativeMessagingHosts", not_executable.string());
  write_manifest(home() / ".config/microsoft-edge/NativeMessagingHosts", kHost, R"("allowed_extensions":[],)");
  write_manifest(home() / ".config/vivaldi/NativeMessagingHosts", dir_.string());
  write_manifest(home() / ".mozilla/native-messaging-hosts", kHost);
  write_manifest(root() / "etc/chromium/native-messaging-hosts", "/usr/bin/host");  // staged under --root
  write_manifest(flatpak / ".mozilla/native-messaging-hosts", (flatpak / "bin/host").string());
  write_manifest(home() / ".var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts", kHost);
  write_manifest(brave / "config/BraveSoftware/Brave-Browser/NativeMessagingHosts", brave_wrapper);
  write_manifest(edge / "config/microsoft-edge/NativeMessagingHosts", edge_wrapper);

  const Outcome outcome = run(base_args("list", "linux"));
  EXPECT_EQ(outcome.status, 1);
  const auto line = [&](const std::string& label, const fs::path& folder, const std::string& rest) {
    return label + " " + (folder / kFile).string() + " -> " + rest + "\n";
  };
  EXPECT_EQ(outcome.out,
            line("chrome user", home() / ".config/google-chrome/NativeMessagingHosts",
                 "/opt/nowhere/host (missing)") +
                line("chromium user", home() / ".config/chromium/NativeMessagingHosts",
                     not_executable.string() + " (not executable)") +
                line("chromium system", root() / "etc/chromium/native-messaging-hosts", "/usr/bin/host") +
                line("edge user", home() / ".config/microsoft-edge/NativeMessagingHosts",
                     kHost + " (firefox format in a chromium folder)") +
                line("vivaldi user", home() / ".config/vivaldi/NativeMessagingHosts",
                     dir_.string() + " (not executable)") +
                line("firefox user", home() / ".mozilla/native-messaging-hosts", kHost) +
                line("chromium flatpak",
                     home() / ".var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts",
                     kHost + " (outside the flatpak)") +
                line("brave flatpak", brave / "config/BraveSoftware/Brave-Browser/NativeMessagingHosts",
                     brave_wrapper + " -> /opt/gone/host (missing)") +
                line("edge flatpak", edge / "config/microsoft-edge/NativeMessagingHosts",
                     edge_wrapper + " -> " + kHost) +
                line("firefox flatpak", flatpak / ".mozilla/native-messaging-hosts",
                     (flatpak / "bin/host").string()));
  // Only healthy entries: success.
  EXPECT_EQ(run(base_args("list", "linux", {"--browser=firefox"})).status, 0);

  // remove takes the Flatpak manifests and the wrappers of ours too, and
  // says how to withdraw the sandbox escape.
  const Outcome removed = run(base_args("remove", "linux"));
  EXPECT_EQ(removed.status, 0) << removed.err;
  for (const auto& file : files()) {
    EXPECT_FALSE(file.ends_with(kFile) && file.starts_with("home/")) << file;
    EXPECT_FALSE(file.ends_with("tarnwick/vellumkeep-native")) << file;
  }
  EXPECT_TRUE(fs::is_directory(brave / "data"));
  EXPECT_FALSE(fs::exists(brave / "data/tarnwick"));
  EXPECT_NE(removed.out.find("flatpak override --user --no-talk-name=org.freedesktop.Flatpak "
                             "com.microsoft.Edge\n"),
            std::string::npos)
      << removed.out;
}

struct LinkCase {
  std::string name;
  std::string link;  // relative to the test directory; made a link to "elsewhere"
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
};

// A link planted below the home (by the user whose home it is, when root
// installs for them, or by a sandboxed browser in its own folder) never
// redirects a write, a removal or a read.
TEST_F(InstallerTest, LinksBelowTheHomeAreNeverFollowed) {
  const std::string h = home().string();
  const std::string p = "vk-install-host-manifest: ";
  const std::string not_followed = ": it is a symbolic link, and none is followed below " + h;
  const std::string chrome = h + "/.config/google-chrome/NativeMessagingHosts";
  const std::string chromium = h + "/.config/chromium/NativeMessagingHosts";
  const LinkCase cases[] = {
      {"install through a linked manifest folder", "home/.config/google-chrome/NativeMessagingHosts",
       install_args("linux", {"--browser=chrome"}), 1, "",
       p + "cannot create directory " + chrome + not_followed + "\n"},
      {"install through a linked browser folder", "home/.mozilla", install_args("linux", {"--browser=firefox"}),
       1, "", p + "cannot create directory " + h + "/.mozilla" + not_followed + "\n"},
      {"remove through a linked folder", "home/.config/chromium/NativeMessagingHosts",
       base_args("remove", "linux", {"--browser=chromium"}), 1, "",
       p + "cannot open directory " + chromium + not_followed + "\n"},
      {"list through a linked folder", "home/.config/chromium/NativeMessagingHosts",
       base_args("list", "linux", {"--browser=chromium", "--user"}), 1,
       "chromium user " + chromium + "/" + kFile + " (cannot open directory " + chromium + not_followed + ")\n",
       ""},
      // Holds already: the link itself is replaced, not what it names.
      {"install over a linked manifest", "home/.config/chromium/NativeMessagingHosts/" + kFile,
       install_args("linux", {"--browser=chromium"}), 0, "wrote " + chromium + "/" + kFile + "\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    fs::remove_all(dir_ / "elsewhere");
    fs::create_directories(dir_ / "elsewhere");
    std::ofstream(dir_ / "elsewhere" / kFile) << "decoy";
    const fs::path link = dir_ / c.link;
    fs::create_directories(link.parent_path());
    const fs::path target = c.link.ends_with(kFile) ? dir_ / "elsewhere" / kFile : dir_ / "elsewhere";
    fs::create_symlink(target, link);

    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(read_file(dir_ / "elsewhere" / kFile), "decoy");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "elsewhere"), fs::directory_iterator()), 1);
  }
}

struct UnsafeFolderCase {
  std::string name;
  std::string folder;  // relative to the test directory, made beforehand
  fs::perms mode;
  bool other_owner;  // given to uid 65534 (needs root)
  std::vector<std::string> extra;
  int status;
  std::string err;
};

// Whoever can replace a folder on the way to a manifest chooses the program
// the browser starts.
TEST_F(InstallerTest, UnsafeFoldersAreRefusedUnlessForced) {
  const std::string h = home().string();
  const std::string p = "vk-install-host-manifest: ";
  const std::string others = "), who could change the program browsers start; run chmod go-w on it";
  const std::string refused = "; --force installs anyway\n";
  const std::string firefox = "--browser=firefox";
  const auto all = fs::perms::all;
  const auto group_writable = fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read |
                              fs::perms::others_exec;
  const UnsafeFolderCase cases[] = {
      {"world-writable", "home/.mozilla", all, false, {firefox}, 2,
       p + h + "/.mozilla is writable by others (mode 0777" + others + refused},
      {"group-writable custom folder", "home/portable", group_writable, false,
       {"--manifest-dir=" + h + "/portable/hosts", "--format=firefox"}, 2,
       p + h + "/portable is writable by its group (mode 0775), whose members could change the "
           "program browsers start; run chmod g-w on it" + refused},
      {"forced", "home/.mozilla", all, false, {firefox, "--force"}, 0,
       p + "warning: " + h + "/.mozilla is writable by others (mode 0777" + others + "\n"},
      {"sticky, like /tmp", "home/.mozilla", all | fs::perms::sticky_bit, false, {firefox}, 0, ""},
      {"another user's", "home/.mozilla", fs::perms::owner_all, true, {firefox}, 2,
       p + h + "/.mozilla belongs to uid 65534, who could change the program browsers start" + refused},
      // A staging root is the packager's; only what is staged in it counts.
      {"a staging root", "root", group_writable, false, {"--system", "--browser=chromium"}, 0,
       p + "warning: " + kHost + " is not an executable file under " + root().string() + "\n"},
      {"a folder staged", "root/etc", group_writable, false, {"--system", "--browser=chromium"}, 2,
       p + root().string() + "/etc is writable by its group (mode 0775), whose members could change the "
           "program browsers start; run chmod g-w on it" + refused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.other_owner && geteuid() != 0) continue;
    fs::remove_all(home());
    fs::create_directories(dir_ / c.folder);
    fs::permissions(dir_ / c.folder, c.mode);
    if (c.other_owner) {
      ASSERT_EQ(chown((dir_ / c.folder).c_str(), 65534, 65534), 0);
    }
    const Outcome outcome = run(install_args("linux", c.extra));
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(outcome.out.starts_with("wrote "), c.status == 0) << outcome.out;
  }
}

struct ModeCase {
  mode_t mask;
  bool home_of_another;  // root installs into the home of uid 65534
  std::vector<std::string> extra;
  std::vector<std::string> folders;  // made by the install, relative to the test directory
  std::string manifest;
};

// Browsers read machine-wide folders as other users; a home's folders are
// its owner's alone. Neither depends on the installer's umask.
TEST_F(InstallerTest, ModesDoNotDependOnTheUmask) {
  const auto info_of = [](const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
  };
  const ModeCase cases[] = {
      {077, false, {"--system", "--browser=chromium"},
       {"root/etc", "root/etc/chromium", "root/etc/chromium/native-messaging-hosts"},
       "root/etc/chromium/native-messaging-hosts/" + kFile},
      {0, false, {"--browser=firefox"},
       {"home/.mozilla", "home/.mozilla/native-messaging-hosts"},
       "home/.mozilla/native-messaging-hosts/" + kFile},
      {022, true, {"--browser=firefox"},
       {"home/.mozilla", "home/.mozilla/native-messaging-hosts"},
       "home/.mozilla/native-messaging-hosts/" + kFile},
      {022, false, {"--browser=chrome"},
       {"home/.config", "home/.config/google-chrome", "home/.config/google-chrome/NativeMessagingHosts"},
       "home/.config/google-chrome/NativeMessagingHosts/" + kFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manifest);
    if (c.home_of_another && geteuid() != 0) continue;
    fs::remove_all(home());
    fs::remove_all(root());
    fs::create_directories(home());
    fs::create_directories(root());
    const uid_t owner = c.home_of_another ? 65534 : geteuid();
    ASSERT_EQ(chown(home().c_str(), owner, owner), 0);
    const Outcome outcome = run(install_args("linux", c.extra), std::nullopt, c.mask);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const mode_t folder_mode = c.folders.front().starts_with("root/") ? 0755 : 0700;
    for (const auto& folder : c.folders) {
      EXPECT_EQ(info_of(dir_ / folder).st_mode & 07777, folder_mode) << folder;
      if (!folder.starts_with("root/")) {
        EXPECT_EQ(info_of(dir_ / folder).st_uid, owner) << folder;
      }
    }
    EXPECT_EQ(info_of(dir_ / c.manifest).st_mode & 07777, 0644u);
    EXPECT_EQ(info_of(dir_ / c.manifest).st_uid, c.home_of_another ? owner : geteuid());
  }
}

struct UntrustedManifestCase {
  std::string name;
  std::function<void(const fs::path&)> plant;  // makes the manifest at this path
  std::string shown;                           // after the path on the list line
};

// Sandboxed browsers write their own folders, and anyone may have written a
// folder list looks into: what it finds is read safely and shown inert.
TEST_F(InstallerTest, ListNeverTrustsWhatItReads) {
  const UntrustedManifestCase cases[] = {
      {"a FIFO", [](const fs::path& path) { ASSERT_EQ(mkfifo(path.c_str(), 0644), 0); },
       " (not a regular file)"},
      {"a folder", [](const fs::path& path) { fs::create_directory(path); }, " (not a regular file)"},
      {"a link to /dev/zero", [](const fs::path& path) { fs::create_symlink("/dev/zero", path); },
       " (a symbolic link, not followed)"},
      {"a large file",
       [](const fs::path& path) {
         std::ofstream(path) << "{\"path\":\"" << std::string(65536, 'a') << "\"}";
       },
       " (larger than 65536 bytes)"},
      {"terminal controls in the host",
       [](const fs::path& path) {
         std::ofstream(path) << R"({"allowed_extensions":[],"path":"/opt/\u001b]0;owned\u0007\u009b\\x/host"})";
       },
       R"( -> /opt/\x1b]0;owned\x07\u009b\\x/host (missing))"},
  };
  const fs::path folder = home() / ".mozilla/native-messaging-hosts";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    fs::create_directories(folder);
    c.plant(folder / kFile);
    const Outcome outcome = run(base_args("list", "linux", {"--browser=firefox", "--user"}));
    EXPECT_NE(outcome.status, -1) << "killed";
    EXPECT_EQ(outcome.out, "firefox user " + (folder / kFile).string() + c.shown + "\n");
  }
}

struct ProgramCase {
  std::string program;
  std::vector<std::string> args;
  int status;
  std::string out_start;  // the whole output when `whole`
  bool whole;
  std::string err;
};

// Every program that is installed says its version and its usage; the host
// only when its first argument asks, since browsers pass theirs.
TEST_F(InstallerTest, EveryInstalledProgramAnswersVersionAndHelp) {
  const std::string version = VK_VERSION;
  std::vector<ProgramCase> cases;
  for (const auto& [program, name] : std::vector<std::pair<std::string, std::string>>{
           {VK_HOST_PATH, "vellumkeep-native"},
           {VK_INSTALLER_PATH, "vk-install-host-manifest"},
           {VK_JSON_PATH, "vk-json"},
           {VK_STAND_IN_APP_PATH, "vk-stand-in-app"},
           {VK_HOST_CLIENT_PATH, "vk-host-client"}}) {
    cases.push_back({program, {"--version"}, 0, name + " " + version + "\n", true, ""});
    cases.push_back({program, {"--help"}, 0, "Usage: " + name + " ", false, ""});
  }
  cases.push_back({VK_HOST_PATH, {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/", "--version"}, 0,
                   "", true, ""});
  cases.push_back({VK_HOST_PATH, {"--version=1"}, 0, "", true, ""});
  cases.push_back({VK_INSTALLER_PATH, {"--versions"}, 2, "", true,
                   "vk-install-host-manifest: unknown option \"--versions\" (see --help)\n"});
  cases.push_back({VK_INSTALLER_PATH, {"--version=2"}, 2, "", true,
                   "vk-install-host-manifest: option --version takes no value (see --help)\n"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program + " " + c.args.front());
    const Outcome outcome = run_program(c.program, c.args, std::vector<std::string>{});
    EXPECT_EQ(outcome.status, c.status);
    if (c.whole) EXPECT_EQ(outcome.out, c.out_start);
    else EXPECT_EQ(outcome.out.substr(0, c.out_start.size()), c.out_start);
    EXPECT_EQ(outcome.err, c.err);
  }
}

struct DefaultHostCase {
  std::string name;
  std::string installer;  // a copy's folder, relative to the test directory; empty: the build's
  bool host_beside;       // a host is copied beside the copy
  std::vector<std::string> extra;
  int status;
  std::string said;  // the first line of output, or the error
  std::string manifest;  // relative to the test directory
  std::string host;      // the "path" it names
};

// Without --host-path the installer registers the host of its own
// installation, or of the build tree it runs from, and says which.
TEST_F(InstallerTest, DefaultHostIsTheHostOfTheSameInstallation) {
  const std::string d = dir_.string();
  const std::string built_host = fs::canonical(VK_HOST_PATH).string();
  const std::string chromium = "home/.config/chromium/NativeMessagingHosts/" + kFile;
  const std::string system = "root/etc/chromium/native-messaging-hosts/" + kFile;
  const std::string p = "vk-install-host-manifest: ";
  const DefaultHostCase cases[] = {
      {"build tree", "", false, {}, 0, "using the host of this build tree: " + built_host, chromium,
       built_host},
      {"installed", "prefix/bin", true, {}, 0,
       "using the host of this installation: " + d + "/prefix/bin/vellumkeep-native", chromium,
       d + "/prefix/bin/vellumkeep-native"},
      {"installed without its host", "lonely/bin", false, {}, 2,
       p + "no --host-path given, and the host of this installation is not at " + d +
           "/lonely/bin/vellumkeep-native; name it with --host-path",
       "", ""},
      {"staged under --root", "root/usr/bin", true, {"--system"}, 0,
       "using the host of this installation: /usr/bin/vellumkeep-native", system,
       "/usr/bin/vellumkeep-native"},
      {"staging from the build tree", "", false, {"--system"}, 2,
       p + "--root needs --host-path: this installer is not inside " + root().string(), "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(home());
    fs::create_directories(root());
    std::string installer = VK_INSTALLER_PATH;
    if (!c.installer.empty()) {
      fs::create_directories(dir_ / c.installer);
      installer = (dir_ / c.installer / "vk-install-host-manifest").string();
      fs::copy_file(VK_INSTALLER_PATH, installer);
      if (c.host_beside) fs::copy_file(VK_HOST_PATH, dir_ / c.installer / "vellumkeep-native");
    }
    auto args = base_args("install", "linux", {"--browser=chromium", "--allowed-origin=" + kOrigin});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome outcome = run_program(installer, args);
    EXPECT_EQ(outcome.status, c.status);
    const std::string& said = c.status == 0 ? outcome.out : outcome.err;
    EXPECT_EQ(said.substr(0, said.find('\n')), c.said);
    if (c.status == 0) {
      EXPECT_NE(read_file(dir_ / c.manifest).find("\"path\":\"" + c.host + "\""), std::string::npos)
          << read_file(dir_ / c.manifest);
      EXPECT_EQ(outcome.err, "");
    }
  }
}

struct BuiltInIdsCase {
  std::string name;
  std::string installer;
  std::vector<std::string> extra;
  std::size_t files;
  std::string chromium_list;  // in the Chrome manifest; empty: none written
  std::string firefox_list;   // in the Firefox manifest; empty: none written
  std::string err;
};

// With IDs built in, `install --browser=all` needs nothing else; a format
// without an ID is left out with a note.
TEST_F(InstallerTest, BuiltInIdsNeedNoOtherArgument) {
  const std::string chrome_file = "home/.config/google-chrome/NativeMessagingHosts/" + kFile;
  const std::string firefox_file = "home/.mozilla/native-messaging-hosts/" + kFile;
  const BuiltInIdsCase cases[] = {
      {"built in", VK_INSTALLER_WITH_IDS_PATH, {}, 14, R"("allowed_origins":[")" + kOrigin + R"("])",
       R"("allowed_extensions":["vault@tarnwick.example"])", ""},
      {"given over built in", VK_INSTALLER_WITH_IDS_PATH, {"--allowed-extension=other@tarnwick.example"}, 14,
       R"("allowed_origins":[")" + kOrigin + R"("])", R"("allowed_extensions":["other@tarnwick.example"])", ""},
      {"one format without", VK_INSTALLER_PATH, {"--allowed-origin=" + kOrigin}, 12,
       R"("allowed_origins":[")" + kOrigin + R"("])", "",
       "vk-install-host-manifest: note: skipped firefox, librewolf: no add-on ID is built in or given "
       "with --allowed-extension\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    auto args = base_args("install", "linux", {"--browser=all", "--host-path=" + kHost});
    if (c.name == "built in") args.pop_back();  // the build tree's host, too
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome outcome = run_program(c.installer, args);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(files().size(), c.files);
    EXPECT_NE(read_file(dir_ / chrome_file).find(c.chromium_list), std::string::npos);
    if (c.firefox_list.empty()) EXPECT_FALSE(fs::exists(dir_ / firefox_file));
    else EXPECT_NE(read_file(dir_ / firefox_file).find(c.firefox_list), std::string::npos);
  }
}

struct InputCase {
  std::string name;
  std::vector<std::string> extra;
  bool as_root_without_home;  // run without --home, with HOME set (needs root)
  int status;
  std::string err;
};

// Mistakes a user makes at a shell are caught before anything is written.
TEST_F(InstallerTest, InputChecksAndHints) {
  const std::string p = "vk-install-host-manifest: ";
  const InputCase cases[] = {
      {"host path is a folder", {"--host-path=" + dir_.string()}, false, 2,
       p + "host path " + dir_.string() + " is a directory; name the vellumkeep-native program in it\n"},
      {"~ after =", {"--host-path=~/bin/vellumkeep-native"}, false, 2,
       p + "--host-path=~/bin/vellumkeep-native: the shell does not expand \"~\" after \"=\"; write "
           "--host-path ~/bin/vellumkeep-native or --host-path=\"$HOME/bin/vellumkeep-native\" (see --help)\n"},
      {"~user after =", {"--manifest-dir=~ann/hosts", "--format=chromium"}, false, 2,
       p + "--manifest-dir=~ann/hosts: the shell does not expand \"~\" after \"=\"; write --manifest-dir "
           "~ann/hosts (see --help)\n"},
      {"~ for the home", {"--home=~"}, false, 2,
       p + "--home=~: the shell does not expand \"~\" after \"=\"; write --home ~ or --home=\"$HOME\" (see "
           "--help)\n"},
      {"unknown option", {"--bogus=1"}, false, 2, p + "unknown option \"--bogus\" (see --help)\n"},
      {"root without --system", {}, true, 0,
       p + "note: run as root without --system, this works on root's own manifests; --system is for "
           "every user of the machine, --home=DIR for one user\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.as_root_without_home && geteuid() != 0) continue;
    fs::remove_all(home());
    fs::create_directories(home());
    std::vector<std::string> args = {"install", "--os=linux", "--browser=chromium",
                                     "--allowed-origin=" + kOrigin};
    if (!c.as_root_without_home) args.push_back("--home=" + home().string());
    if (c.extra.empty() || !c.extra.front().starts_with("--host-path")) args.push_back("--host-path=" + kHost);
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome outcome = run(args, std::vector<std::string>{"HOME=" + home().string()});
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.err, c.err);
    EXPECT_EQ(files().empty(), c.status != 0);
  }
}

struct ReinstallCase {
  std::string name;
  std::string first;   // the first install's allow-list option; "{": a broken manifest instead
  std::vector<std::string> second;
  std::string manifest;  // relative to the home
  std::string list;      // in the manifest afterwards
  std::string note;      // after "wrote <path>"
};

// Registering a second extension keeps the first, unless told otherwise.
TEST_F(InstallerTest, ReinstallKeepsEarlierOrigins) {
  const std::string other = "chrome-extension://ponmlkjihgfedcbaponmlkjihgfedcba/";
  const std::string chromium = ".config/chromium/NativeMessagingHosts/" + kFile;
  const std::string firefox = ".mozilla/native-messaging-hosts/" + kFile;
  const ReinstallCase cases[] = {
      {"a second origin", "--allowed-origin=" + kOrigin, {"--allowed-origin=" + other}, chromium,
       R"("allowed_origins":[")" + kOrigin + R"(",")" + other + R"("])", " (kept 1 origin it allowed before)"},
      {"replaced", "--allowed-origin=" + kOrigin, {"--allowed-origin=" + other, "--replace-origins"}, chromium,
       R"("allowed_origins":[")" + other + R"("])", ""},
      {"the same origin", "--allowed-origin=" + kOrigin, {"--allowed-origin=" + kOrigin}, chromium,
       R"("allowed_origins":[")" + kOrigin + R"("])", ""},
      {"a second add-on", "--allowed-extension=a@tarnwick.example", {"--allowed-extension=b@tarnwick.example"},
       firefox, R"("allowed_extensions":["a@tarnwick.example","b@tarnwick.example"])",
       " (kept 1 add-on ID it allowed before)"},
      {"over a broken manifest", "{", {"--allowed-origin=" + other}, chromium,
       R"("allowed_origins":[")" + other + R"("])", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home());
    const std::string browser = c.manifest == firefox ? "--browser=firefox" : "--browser=chromium";
    if (c.first == "{") {
      fs::create_directories((home() / c.manifest).parent_path());
      std::ofstream(home() / c.manifest) << "{";
    } else {
      ASSERT_EQ(run(base_args("install", "linux", {browser, "--host-path=" + kHost, c.first})).status, 0);
    }
    auto args = base_args("install", "linux", {browser, "--host-path=" + kHost});
    args.insert(args.end(), c.second.begin(), c.second.end());
    const Outcome outcome = run(args);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "wrote " + (home() / c.manifest).string() + c.note + "\n");
    EXPECT_NE(read_file(home() / c.manifest).find(c.list), std::string::npos) << read_file(home() / c.manifest);
  }
}

// After the host moved, repair points every manifest of the chosen scope,
// and the Flatpak wrappers, at the host again; origins and all else stay.
TEST_F(InstallerTest, RepairPointsManifestsAndWrappersAtTheHost) {
  const fs::path old_host = dir_ / "old/vellumkeep-native";
  const fs::path new_host = dir_ / "new/vellumkeep-native";
  fs::create_directories(old_host.parent_path());
  fs::create_directories(new_host.parent_path());
  fs::copy_file(VK_HOST_PATH, old_host);
  fs::copy_file(VK_HOST_PATH, new_host);
  const fs::path app = home() / ".var/app/org.mozilla.firefox";
  const fs::path wrapper = app / "data/tarnwick/vellumkeep-native";
  fs::create_directories(wrapper.parent_path());
  std::ofstream(wrapper) << "#!/bin/sh\nexec flatpak-spawn --host --watch-bus " + old_host.string() + " \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  const fs::path flatpak_folder = app / ".mozilla/native-messaging-hosts";

  ASSERT_EQ(run(install_args("linux", {"--browser=chromium,firefox", "--host-path=" + old_host.string()})).status, 0);
  ASSERT_EQ(run(install_args("linux", {"--browser=chromium", "--system", "--host-path=" + old_host.string()})).status,
            0);
  ASSERT_EQ(run(base_args("install", "linux", {"--manifest-dir=" + flatpak_folder.string(), "--format=firefox",
                                               "--host-path=" + wrapper.string(),
                                               "--allowed-extension=vault@tarnwick.example"}))
                .status,
            0);
  fs::remove(old_host);
  EXPECT_EQ(run(base_args("list", "linux", {"--user"})).status, 1);

  const fs::path chromium = home() / ".config/chromium/NativeMessagingHosts" / kFile;
  const fs::path firefox = home() / ".mozilla/native-messaging-hosts" / kFile;
  const std::string was = " (was -> " + old_host.string() + ")\n";
  const Outcome repaired = run(base_args("repair", "linux", {"--host-path=" + new_host.string()}));
  EXPECT_EQ(repaired.status, 0) << repaired.err;
  EXPECT_EQ(repaired.out, "repaired " + chromium.string() + was + "repaired " + firefox.string() + was +
                              "repaired " + wrapper.string() + was);
  EXPECT_EQ(run(base_args("list", "linux", {"--user"})).status, 0);
  const struct {
    fs::path file;
    std::string holds;
  } after[] = {
      {chromium, "\"allowed_origins\":[\"" + kOrigin + "\"]"},
      {chromium, "\"path\":\"" + new_host.string() + "\""},
      {firefox, "\"allowed_extensions\":[\"vault@tarnwick.example\"]"},
      {firefox, "\"path\":\"" + new_host.string() + "\""},
      {flatpak_folder / kFile, "\"path\":\"" + wrapper.string() + "\""},
      {wrapper, "--watch-bus " + new_host.string() + " "},
      // --system was not asked for.
      {root() / "etc/chromium/native-messaging-hosts" / kFile, "\"path\":\"" + old_host.string() + "\""},
  };
  for (const auto& a : after) EXPECT_NE(read_file(a.file).find(a.holds), std::string::npos) << a.file << a.holds;

  EXPECT_EQ(run(base_args("repair", "linux", {"--host-path=" + new_host.string()})).out,
            "unchanged " + chromium.string() + "\nunchanged " + firefox.string() + "\nunchanged " +
                wrapper.string() + "\n");
}

struct RootCase {
  std::string name;
  std::vector<std::string> extra;
  int status;
  std::string out_start;
  std::string err;
  std::set<std::string> files;  // under the root afterwards
};

// A staging root applies to every folder outside the home and to the hosts
// named there, as the installed system will see them.
TEST_F(InstallerTest, RootAppliesEverywhere) {
  const std::string r = root().string();
  const std::string host = "--host-path=/usr/bin/vellumkeep-native";
  const std::string ext = "--allowed-extension=vault@tarnwick.example";
  const std::string lib64 = "root/usr/lib64/mozilla/native-messaging-hosts/" + kFile;
  const RootCase cases[] = {
      {"a named folder", {"--manifest-dir=/usr/lib64/mozilla/native-messaging-hosts", "--format=firefox", ext,
                          host, "--dry-run"},
       0, "would write " + r + "/usr/lib64/mozilla/native-messaging-hosts/" + kFile + "\n",
       "vk-install-host-manifest: warning: /usr/bin/vellumkeep-native is not an executable file under " + r + "\n",
       {"root/usr/bin/other"}},
      {"the staged host", {"--system", "--browser=chromium", "--allowed-origin=" + kOrigin, host}, 0,
       "wrote " + r + "/etc/chromium", "",
       {"root/usr/bin/vellumkeep-native", "root/usr/bin/other",
        "root/etc/chromium/native-messaging-hosts/" + kFile}},
      {"lib64", {"--system", "--browser=firefox", "--lib64", ext, host}, 0, "wrote " + r + "/usr/lib64", "",
       {"root/usr/bin/vellumkeep-native", "root/usr/bin/other", lib64}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root());
    fs::create_directories(root() / "usr/bin");
    std::ofstream(root() / "usr/bin/other") << "";
    if (c.name != "a named folder") fs::copy_file(VK_HOST_PATH, root() / "usr/bin/vellumkeep-native");
    const Outcome outcome = run(base_args("install", "linux", c.extra));
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out.substr(0, c.out_start.size()), c.out_start);
    EXPECT_EQ(outcome.err, c.err);
    std::set<std::string> staged;
    for (const auto& file : files()) {
      if (file.starts_with("root/")) staged.insert(file);
    }
    EXPECT_EQ(staged, c.files);
    if (c.status == 0 && !c.extra.back().starts_with("--dry")) {
      const Outcome listed = run(base_args("list", "linux", {"--system"}));
      EXPECT_EQ(listed.status, 0) << listed.out;
    }
  }
}

struct RemovalCase {
  std::string name;
  std::vector<std::string> scope;
  std::vector<std::string> before;  // files there beforehand, relative to the test directory
  std::set<std::string> left;       // every entry left under home/ and root/
};

// remove leaves no folder behind that only held what install made.
TEST_F(InstallerTest, RemoveLeavesNoFolderItMade) {
  const RemovalCase cases[] = {
      {"per user", {}, {"home/.config/google-chrome/Default/Preferences"},
       {"home/.config", "home/.config/google-chrome", "home/.config/google-chrome/Default",
        "home/.config/google-chrome/Default/Preferences"}},
      {"machine-wide", {"--system"}, {}, {"root/etc", "root/etc/opt", "root/usr", "root/usr/lib"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir_);
    fs::create_directories(home());
    fs::create_directories(root());
    for (const auto& file : c.before) {
      fs::create_directories((dir_ / file).parent_path());
      std::ofstream(dir_ / file) << "";
    }
    auto install = install_args("linux", {"--browser=all"});
    install.insert(install.end(), c.scope.begin(), c.scope.end());
    ASSERT_EQ(run(install).status, 0);
    auto remove = base_args("remove", "linux");
    remove.insert(remove.end(), c.scope.begin(), c.scope.end());
    const Outcome removed = run(remove);
    EXPECT_EQ(removed.status, 0) << removed.err;
    std::set<std::string> left;
    for (const fs::path& top : {home(), root()}) {
      for (const auto& entry : fs::recursive_directory_iterator(top)) {
        left.insert(fs::relative(entry.path(), dir_).string());
      }
    }
    EXPECT_EQ(left, c.left);
  }
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

  std::ofstream(chrome / kFile) << "{\"allowed_origins\":[\"" + kOrigin + "\"],\"path\":\"" + bundle.string() + "\"}";
  EXPECT_EQ(run(base_args("list", "macos")).out,
            "chrome user " + (chrome / kFile).string() + " -> " + bundle.string() +
                " (a bundle: name its executable " + executable.string() + ")\n");
}

}  // namespace

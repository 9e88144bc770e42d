// Runs the installer as a child process against a fake home and root.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

  Outcome run(std::vector<std::string> args) const {
    args.insert(args.begin(), VK_INSTALLER_PATH);
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
        "home/.config/chromium/NativeMessagingHosts/" + kFile,
        "home/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts/" + kFile,
        "home/.config/microsoft-edge/NativeMessagingHosts/" + kFile,
        "home/.config/vivaldi/NativeMessagingHosts/" + kFile,
        "home/.mozilla/native-messaging-hosts/" + kFile}},
      {"linux", "--system", "chrome,chromium,edge,firefox",
       {"root/etc/opt/chrome/native-messaging-hosts/" + kFile,
        "root/etc/chromium/native-messaging-hosts/" + kFile,
        "root/etc/opt/edge/native-messaging-hosts/" + kFile,
        "root/usr/lib/mozilla/native-messaging-hosts/" + kFile}},
      {"macos", "--user", "all",
       {"home/Library/Application Support/Google/Chrome/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Chromium/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/BraveSoftware/Brave-Browser/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Microsoft Edge/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Vivaldi/NativeMessagingHosts/" + kFile,
        "home/Library/Application Support/Mozilla/NativeMessagingHosts/" + kFile}},
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
      {{"--browser=all", "--system"},
       p + "Brave documents no system-wide native-messaging location on linux; install it per user\n" +
           p + "Vivaldi documents no system-wide native-messaging location on linux; install it per user\n"},
      {{"--browser=chrome", "--allowed-origin=chrome-extension://abc/"},
       p + "invalid allowed origin \"chrome-extension://abc/\": expected chrome-extension://<32 letters a-p>/\n"},
      {{"--browser=firefox", "--name=Com.Tarnwick"},
       p + "invalid host name \"Com.Tarnwick\": use lowercase letters, digits, '_' and single dots "
           "inside (see --help)\n"},
      {{"--browser=safari"},
       p + "unknown browser \"safari\" (chrome, chromium, brave, edge, vivaldi, firefox, all) (see --help)\n"},
      {{"--browser=chrome", "--user", "--system"}, p + "--user and --system exclude each other (see --help)\n"},
      {{}, p + "install needs --browser (chrome, chromium, brave, edge, vivaldi, firefox, all)\n"},
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
            "vk-install-host-manifest: edge needs at least one "
            "--allowed-origin=chrome-extension://<id>/\n"
            "vk-install-host-manifest: firefox needs at least one --allowed-extension=<add-on id>\n");
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
                "chromium system " + (root() / "etc/chromium/native-messaging-hosts" / kFile).string() +
                " -> " + kHost + "\n" +
                "vivaldi user " + (home() / ".config/vivaldi/NativeMessagingHosts" / kFile).string() +
                " (not JSON: EOF while parsing an object at line 1 column 1)\n" +
                "firefox user " + (home() / ".mozilla/native-messaging-hosts" / kFile).string() +
                " -> " + kHost + "\n");

  EXPECT_EQ(run(base_args("list", "linux", {"--system"})).out, "chromium system " +
                                      (root() / "etc/chromium/native-messaging-hosts" / kFile).string() +
                                      " -> " + kHost + "\n");
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
  EXPECT_EQ(std::count(rest.out.begin(), rest.out.end(), '\n'), 5);
  EXPECT_EQ(files(), (std::set<std::string>{"root/Library/Google/Chrome/NativeMessagingHosts/" + kFile}));
}

}  // namespace

#include "tools/host_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vk {
namespace {

struct LocationCase {
  std::string_view browser;
  Os os;
  Scope scope;
  std::vector<std::string> directories;  // empty: no established folder
};

const LocationBase kBase{"/home/u", "/stage", ""};
const std::string kMacHome = "/home/u/Library/Application Support/";

const LocationCase kLocations[] = {
    {"chrome", Os::linux_os, Scope::user, {"/home/u/.config/google-chrome/NativeMessagingHosts"}},
    {"chromium", Os::linux_os, Scope::user, {"/home/u/.config/chromium/NativeMessagingHosts"}},
    {"brave", Os::linux_os, Scope::user, {"/home/u/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts"}},
    {"edge", Os::linux_os, Scope::user, {"/home/u/.config/microsoft-edge/NativeMessagingHosts"}},
    {"vivaldi", Os::linux_os, Scope::user, {"/home/u/.config/vivaldi/NativeMessagingHosts"}},
    {"firefox", Os::linux_os, Scope::user, {"/home/u/.mozilla/native-messaging-hosts"}},
    {"chrome", Os::linux_os, Scope::system, {"/stage/etc/opt/chrome/native-messaging-hosts"}},
    {"chromium", Os::linux_os, Scope::system, {"/stage/etc/chromium/native-messaging-hosts"}},
    {"brave", Os::linux_os, Scope::system, {}},
    {"edge", Os::linux_os, Scope::system, {"/stage/etc/opt/edge/native-messaging-hosts"}},
    {"vivaldi", Os::linux_os, Scope::system, {}},
    {"firefox", Os::linux_os, Scope::system,
     {"/stage/usr/lib/mozilla/native-messaging-hosts", "/stage/usr/lib64/mozilla/native-messaging-hosts"}},
    {"chrome", Os::macos, Scope::user, {kMacHome + "Google/Chrome/NativeMessagingHosts"}},
    {"chromium", Os::macos, Scope::user, {kMacHome + "Chromium/NativeMessagingHosts"}},
    {"brave", Os::macos, Scope::user, {kMacHome + "BraveSoftware/Brave-Browser/NativeMessagingHosts"}},
    {"edge", Os::macos, Scope::user, {kMacHome + "Microsoft Edge/NativeMessagingHosts"}},
    {"vivaldi", Os::macos, Scope::user, {kMacHome + "Vivaldi/NativeMessagingHosts"}},
    {"firefox", Os::macos, Scope::user, {kMacHome + "Mozilla/NativeMessagingHosts"}},
    {"chrome", Os::macos, Scope::system, {"/stage/Library/Google/Chrome/NativeMessagingHosts"}},
    {"chromium", Os::macos, Scope::system,
     {"/stage/Library/Application Support/Chromium/NativeMessagingHosts"}},
    {"brave", Os::macos, Scope::system, {}},
    {"edge", Os::macos, Scope::system, {"/stage/Library/Microsoft/Edge/NativeMessagingHosts"}},
    {"vivaldi", Os::macos, Scope::system, {}},
    {"firefox", Os::macos, Scope::system,
     {"/stage/Library/Application Support/Mozilla/NativeMessagingHosts"}},
    // Channels and forks: folders the installer-level tests do not reach.
    {"chrome-canary", Os::linux_os, Scope::user, {}},
    {"chrome-dev", Os::linux_os, Scope::system, {"/stage/etc/opt/chrome/native-messaging-hosts"}},
    {"chrome-dev", Os::macos, Scope::user, {kMacHome + "Google/Chrome Dev/NativeMessagingHosts"}},
    {"brave-nightly", Os::macos, Scope::user,
     {kMacHome + "BraveSoftware/Brave-Browser-Nightly/NativeMessagingHosts"}},
    {"vivaldi-snapshot", Os::macos, Scope::user, {}},
    {"librewolf", Os::linux_os, Scope::system, {}},
};

TEST(ManifestDirectories, EveryBrowserOsAndScope) {
  for (const auto& c : kLocations) {
    SCOPED_TRACE(std::string(c.browser) + " " + std::string(os_name(c.os)) + " " +
                 std::string(scope_name(c.scope)));
    const BrowserInfo* browser = find_browser(c.browser);
    ASSERT_NE(browser, nullptr);
    auto directories = manifest_directories(*browser, c.os, c.scope, kBase);
    if (c.directories.empty()) {
      ASSERT_FALSE(directories);
      continue;
    }
    ASSERT_TRUE(directories) << directories.error().text();
    EXPECT_EQ(*directories, c.directories);
  }
}

TEST(ManifestDirectories, MissingFoldersAreRefusedByName) {
  const struct {
    std::string_view browser;
    Os os;
    Scope scope;
    std::string error;
  } cases[] = {
      {"brave", Os::linux_os, Scope::system,
       "Brave documents no system-wide native-messaging location on linux; install it per user"},
      {"vivaldi", Os::macos, Scope::system,
       "Vivaldi documents no system-wide native-messaging location on macos; install it per user"},
      {"chrome-canary", Os::linux_os, Scope::user,
       "Google Chrome Canary has no established per-user folder on linux; name it with "
       "--manifest-dir"},
  };
  for (const auto& c : cases) {
    auto directories = manifest_directories(*find_browser(c.browser), c.os, c.scope, kBase);
    ASSERT_FALSE(directories) << c.browser;
    EXPECT_EQ(directories.error().text(), c.error);
  }
}

TEST(ChromiumConfigHome, ChromeVariableFirstAbsoluteOnly) {
  const struct {
    const char* chrome;
    const char* xdg;
    std::string path;
    std::string_view variable;
    std::vector<std::string_view> ignored;
  } cases[] = {
      {nullptr, nullptr, "", "", {}},
      {"", "", "", "", {}},
      {nullptr, "/x", "/x", "XDG_CONFIG_HOME", {}},
      {"/c", "/x", "/c", "CHROME_CONFIG_HOME", {}},
      {"c", "/x", "/x", "XDG_CONFIG_HOME", {"CHROME_CONFIG_HOME"}},
      {"c", "x", "", "", {"CHROME_CONFIG_HOME", "XDG_CONFIG_HOME"}},
  };
  for (const auto& c : cases) {
    const ConfigHome config = chromium_config_home(c.chrome, c.xdg);
    EXPECT_EQ(config.path, c.path);
    EXPECT_EQ(config.variable, c.variable);
    EXPECT_EQ(config.ignored, c.ignored);
  }
}

TEST(ManifestDirectories, RootAndHomeJoinWithOneSlash) {
  const BrowserInfo& chrome = *find_browser("chrome");
  const BrowserInfo& firefox = *find_browser("firefox");
  auto system = manifest_directories(chrome, Os::linux_os, Scope::system, {"", "/", ""});
  ASSERT_TRUE(system);
  EXPECT_EQ(system->front(), "/etc/opt/chrome/native-messaging-hosts");
  auto user = manifest_directories(firefox, Os::linux_os, Scope::user, {"/h/", "/", ""});
  ASSERT_TRUE(user);
  EXPECT_EQ(user->front(), "/h/.mozilla/native-messaging-hosts");
  auto no_home = manifest_directories(firefox, Os::linux_os, Scope::user, {"", "/", ""});
  ASSERT_FALSE(no_home);
  EXPECT_EQ(no_home.error().text(), "no home directory: set HOME or pass --home");
}

TEST(BrowserNames, FindKnownAndRejectUnknown) {
  for (const BrowserInfo& browser : known_browsers()) {
    EXPECT_EQ(find_browser(browser.name), &browser);
  }
  EXPECT_EQ(find_browser("Chrome"), nullptr);
  EXPECT_EQ(find_browser("safari"), nullptr);
  EXPECT_EQ(parse_os("macos"), Os::macos);
  EXPECT_FALSE(parse_os("darwin"));
  EXPECT_EQ(parse_format("firefox"), ManifestFormat::firefox);
  EXPECT_FALSE(parse_format("gecko"));
}

TEST(PathIsWithin, ByComponentsAndNeverThroughDots) {
  const struct {
    std::string_view path;
    std::string_view directory;
    bool within;
  } cases[] = {
      {"/h/.var/app/x/bin/host", "/h/.var/app/x", true},
      {"/h/.var/app/x", "/h/.var/app/x/", true},
      {"/h/.var/app/xy/host", "/h/.var/app/x", false},
      {"/h/.var/app/x/../y/host", "/h/.var/app/x", false},
      {"/h/.var/app/x/./host", "/h/.var/app/x", false},
      {"/usr/bin/host", "/h/.var/app/x", false},
      {"/anything", "/", true},
  };
  for (const auto& c : cases) EXPECT_EQ(path_is_within(c.path, c.directory), c.within) << c.path;
}

TEST(BundleExecutablePath, AnAppBundleStandsForTheExecutableNamedAfterIt) {
  const struct {
    std::string_view given;
    std::string_view started;
  } cases[] = {
      {"/Applications/Tarnwick.app/Contents/Helpers/vellumkeep-native.app",
       "/Applications/Tarnwick.app/Contents/Helpers/vellumkeep-native.app/Contents/MacOS/"
       "vellumkeep-native"},
      {"/opt/vk/host.app//", "/opt/vk/host.app/Contents/MacOS/host"},
      {"/opt/vk/host.app/Contents/MacOS/host", "/opt/vk/host.app/Contents/MacOS/host"},
      {"/usr/local/bin/vellumkeep-native", "/usr/local/bin/vellumkeep-native"},
      {"/opt/vk/.app", "/opt/vk/.app"},
      {"/opt/vk/app", "/opt/vk/app"},
      {"relative.app", "relative.app/Contents/MacOS/relative"},
  };
  for (const auto& c : cases) EXPECT_EQ(bundle_executable_path(c.given), c.started) << c.given;
}

const ManifestContent kContent{"com.tarnwick.vellumkeep",
                               "Tarnwick host",
                               "/opt/tarnwick/bin/vellumkeep-native",
                               {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
                               {"vault@tarnwick.example"}};

TEST(ManifestText, ChromiumFormatNamesOrigins) {
  EXPECT_EQ(manifest_text(ManifestFormat::chromium, kContent),
            "{\"allowed_origins\":[\"chrome-extension://abcdefghijklmnopabcdefghijklmnop/\"],"
            "\"description\":\"Tarnwick host\",\"name\":\"com.tarnwick.vellumkeep\","
            "\"path\":\"/opt/tarnwick/bin/vellumkeep-native\",\"type\":\"stdio\"}\n");
}

TEST(ManifestText, FirefoxNamesExtensions) {
  EXPECT_EQ(manifest_text(ManifestFormat::firefox, kContent),
            "{\"allowed_extensions\":[\"vault@tarnwick.example\"],"
            "\"description\":\"Tarnwick host\",\"name\":\"com.tarnwick.vellumkeep\","
            "\"path\":\"/opt/tarnwick/bin/vellumkeep-native\",\"type\":\"stdio\"}\n");
}

TEST(ManifestText, PathIsEscapedAsJson) {
  ManifestContent content = kContent;
  content.host_path = "/opt/a \"b\"\\c/host";
  const JsonValue manifest = build_manifest(ManifestFormat::chromium, content);
  auto reparsed = parse_json(serialize_json(manifest));
  ASSERT_TRUE(reparsed);
  const std::optional<JsonValue> path = reparsed->member("path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->as_string(), "/opt/a \"b\"\\c/host");
}

struct ValidityCase {
  const char* text;
  bool valid;
};

TEST(Validation, HostNames) {
  const ValidityCase cases[] = {
      {"com.tarnwick.vellumkeep", true}, {"a_b.c9", true},  {"x", true},
      {"", false},                       {".a", false},     {"a.", false},
      {"a..b", false},                   {"Com.a", false},  {"a-b", false},
      {"a b", false},                    {"a/b", false},
  };
  for (const auto& c : cases) EXPECT_EQ(validate_host_name(c.text).ok(), c.valid) << c.text;
  EXPECT_EQ(validate_host_name("a-b").error().text(),
            "invalid host name \"a-b\": use lowercase letters, digits, '_' and single dots inside");
}

TEST(Validation, HostPathMustBeAbsoluteUtf8) {
  EXPECT_TRUE(validate_host_path("/usr/bin/vellumkeep-native"));
  EXPECT_EQ(validate_host_path("bin/vellumkeep-native").error().text(),
            "host path must be absolute: \"bin/vellumkeep-native\"");
  EXPECT_EQ(validate_host_path("./vellumkeep-native").error().text(),
            "host path must be absolute: \"./vellumkeep-native\"");
  EXPECT_EQ(validate_host_path("").error().text(), "host path must be absolute: \"\"");
  EXPECT_EQ(validate_host_path("/opt/\xC0\xAF/host").error().text(), "host path is not valid UTF-8");
  EXPECT_TRUE(validate_host_path("/opt/caf\xC3\xA9/host"));
}

TEST(Validation, AllowedOrigins) {
  const ValidityCase cases[] = {
      {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/", true},
      {"chrome-extension://abcdefghijklmnopabcdefghijklmnop", false},
      {"chrome-extension://abcdefghijklmnopabcdefghijklmnoq/", false},
      {"chrome-extension://ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP/", false},
      {"chrome-extension://abcdefghijklmnopabcdefghijklmno/", false},
      {"https://abcdefghijklmnopabcdefghijklmnop/", false},
      {"chrome-extension://*/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(validate_allowed_origin(c.text).ok(), c.valid) << c.text;
}

TEST(Validation, FirefoxAddOnIdsAreEmailLikeOrGuids) {
  const ValidityCase cases[] = {
      {"vault@tarnwick.example", true},
      {"vault-2_x.y@tarnwick-example.org", true},
      {"@tarnwick.example", true},  // Firefox accepts an empty name part
      {"{0b9c5a4e-1111-4c2d-9e8f-000000000000}", true},
      {"{0B9C5A4E-1111-4C2D-9E8F-00000000000A}", true},
      {"*", false},
      {"vault", false},
      {"vault@", false},
      {"vault@tarnwick.example\n", false},
      {"vault@tarnwick.example\nx@y", false},
      {"va ult@tarnwick.example", false},
      {"vault@tarn@wick", false},
      {"{0b9c5a4e-1111-4c2d-9e8f-00000000000}", false},
      {"{0b9c5a4e-1111-4c2d-9e8f-00000000000g}", false},
      {"0b9c5a4e-1111-4c2d-9e8f-000000000000", false},
  };
  for (const auto& c : cases) EXPECT_EQ(validate_allowed_extension(c.text).ok(), c.valid) << c.text;
  EXPECT_EQ(validate_allowed_extension("a\x1b[2Jb").error().text(),
            "invalid Firefox add-on ID \"a\\x1b[2Jb\": expected name@domain or {GUID}");
}

TEST(Validation, FirefoxIdsAndDescription) {
  EXPECT_TRUE(validate_allowed_extension("{0b9c5a4e-1111-4c2d-9e8f-000000000000}"));
  EXPECT_EQ(validate_allowed_extension("").error().text(), "empty Firefox extension ID");
  EXPECT_EQ(validate_description("\xFF").error().text(), "description is not valid UTF-8");
  EXPECT_EQ(validate_description("\xED\xA0\x80").error().text(), "description is not valid UTF-8");
}

}  // namespace
}  // namespace vk

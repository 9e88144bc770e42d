#include "tools/host_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vk {
namespace {

struct LocationCase {
  Browser browser;
  Os os;
  Scope scope;
  std::vector<std::string> directories;  // empty: no documented location
};

const LocationBase kBase{"/home/u", "/stage"};
const std::string kMacHome = "/home/u/Library/Application Support/";

const LocationCase kLocations[] = {
    {Browser::chrome, Os::linux_os, Scope::user, {"/home/u/.config/google-chrome/NativeMessagingHosts"}},
    {Browser::chromium, Os::linux_os, Scope::user, {"/home/u/.config/chromium/NativeMessagingHosts"}},
    {Browser::brave, Os::linux_os, Scope::user,
     {"/home/u/.config/BraveSoftware/Brave-Browser/NativeMessagingHosts"}},
    {Browser::edge, Os::linux_os, Scope::user, {"/home/u/.config/microsoft-edge/NativeMessagingHosts"}},
    {Browser::vivaldi, Os::linux_os, Scope::user, {"/home/u/.config/vivaldi/NativeMessagingHosts"}},
    {Browser::firefox, Os::linux_os, Scope::user, {"/home/u/.mozilla/native-messaging-hosts"}},
    {Browser::chrome, Os::linux_os, Scope::system, {"/stage/etc/opt/chrome/native-messaging-hosts"}},
    {Browser::chromium, Os::linux_os, Scope::system, {"/stage/etc/chromium/native-messaging-hosts"}},
    {Browser::brave, Os::linux_os, Scope::system, {}},
    {Browser::edge, Os::linux_os, Scope::system, {"/stage/etc/opt/edge/native-messaging-hosts"}},
    {Browser::vivaldi, Os::linux_os, Scope::system, {}},
    {Browser::firefox, Os::linux_os, Scope::system,
     {"/stage/usr/lib/mozilla/native-messaging-hosts", "/stage/usr/lib64/mozilla/native-messaging-hosts"}},
    {Browser::chrome, Os::macos, Scope::user, {kMacHome + "Google/Chrome/NativeMessagingHosts"}},
    {Browser::chromium, Os::macos, Scope::user, {kMacHome + "Chromium/NativeMessagingHosts"}},
    {Browser::brave, Os::macos, Scope::user, {kMacHome + "BraveSoftware/Brave-Browser/NativeMessagingHosts"}},
    {Browser::edge, Os::macos, Scope::user, {kMacHome + "Microsoft Edge/NativeMessagingHosts"}},
    {Browser::vivaldi, Os::macos, Scope::user, {kMacHome + "Vivaldi/NativeMessagingHosts"}},
    {Browser::firefox, Os::macos, Scope::user, {kMacHome + "Mozilla/NativeMessagingHosts"}},
    {Browser::chrome, Os::macos, Scope::system, {"/stage/Library/Google/Chrome/NativeMessagingHosts"}},
    {Browser::chromium, Os::macos, Scope::system,
     {"/stage/Library/Application Support/Chromium/NativeMessagingHosts"}},
    {Browser::brave, Os::macos, Scope::system, {}},
    {Browser::edge, Os::macos, Scope::system, {"/stage/Library/Microsoft/Edge/NativeMessagingHosts"}},
    {Browser::vivaldi, Os::macos, Scope::system, {}},
    {Browser::firefox, Os::macos, Scope::system,
     {"/stage/Library/Application Support/Mozilla/NativeMessagingHosts"}},
};

TEST(ManifestDirectories, EveryBrowserOsAndScope) {
  for (const auto& c : kLocations) {
    SCOPED_TRACE(std::string(browser_name(c.browser)) + " " + std::string(os_name(c.os)) + " " +
                 std::string(scope_name(c.scope)));
    auto directories = manifest_directories(c.browser, c.os, c.scope, kBase);
    if (c.directories.empty()) {
      ASSERT_FALSE(directories);
      continue;
    }
    ASSERT_TRUE(directories) << directories.error().text();
    EXPECT_EQ(*directories, c.directories);
  }
}

TEST(ManifestDirectories, UndocumentedSystemLocationIsRefusedByName) {
  auto brave = manifest_directories(Browser::brave, Os::linux_os, Scope::system, kBase);
  ASSERT_FALSE(brave);
  EXPECT_EQ(brave.error().text(),
            "Brave documents no system-wide native-messaging location on linux; install it per user");
  auto vivaldi = manifest_directories(Browser::vivaldi, Os::macos, Scope::system, kBase);
  ASSERT_FALSE(vivaldi);
  EXPECT_EQ(vivaldi.error().text(),
            "Vivaldi documents no system-wide native-messaging location on macos; install it per user");
}

TEST(ManifestDirectories, RootAndHomeJoinWithOneSlash) {
  auto system = manifest_directories(Browser::chrome, Os::linux_os, Scope::system, {"", "/"});
  ASSERT_TRUE(system);
  EXPECT_EQ(system->front(), "/etc/opt/chrome/native-messaging-hosts");
  auto user = manifest_directories(Browser::firefox, Os::linux_os, Scope::user, {"/h/", "/"});
  ASSERT_TRUE(user);
  EXPECT_EQ(user->front(), "/h/.mozilla/native-messaging-hosts");
  auto no_home = manifest_directories(Browser::firefox, Os::linux_os, Scope::user, {"", "/"});
  ASSERT_FALSE(no_home);
  EXPECT_EQ(no_home.error().text(), "no home directory: set HOME or pass --home");
}

TEST(BrowserNames, RoundTripAndRejectUnknown) {
  for (Browser browser : kAllBrowsers) EXPECT_EQ(parse_browser(browser_name(browser)), browser);
  EXPECT_FALSE(parse_browser("Chrome"));
  EXPECT_FALSE(parse_browser("safari"));
  EXPECT_EQ(parse_os("macos"), Os::macos);
  EXPECT_FALSE(parse_os("darwin"));
}

const ManifestContent kContent{"com.tarnwick.vellumkeep",
                               "Tarnwick host",
                               "/opt/tarnwick/bin/vellumkeep-native",
                               {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
                               {"vault@tarnwick.example"}};

TEST(ManifestText, ChromiumFamilyNamesOrigins) {
  for (Browser browser : {Browser::chrome, Browser::chromium, Browser::brave, Browser::edge,
                          Browser::vivaldi}) {
    EXPECT_EQ(manifest_text(browser, kContent),
              "{\"allowed_origins\":[\"chrome-extension://abcdefghijklmnopabcdefghijklmnop/\"],"
              "\"description\":\"Tarnwick host\",\"name\":\"com.tarnwick.vellumkeep\","
              "\"path\":\"/opt/tarnwick/bin/vellumkeep-native\",\"type\":\"stdio\"}\n");
  }
}

TEST(ManifestText, FirefoxNamesExtensions) {
  EXPECT_EQ(manifest_text(Browser::firefox, kContent),
            "{\"allowed_extensions\":[\"vault@tarnwick.example\"],"
            "\"description\":\"Tarnwick host\",\"name\":\"com.tarnwick.vellumkeep\","
            "\"path\":\"/opt/tarnwick/bin/vellumkeep-native\",\"type\":\"stdio\"}\n");
}

TEST(ManifestText, PathIsEscapedAsJson) {
  ManifestContent content = kContent;
  content.host_path = "/opt/a \"b\"\\c/host";
  const JsonValue manifest = build_manifest(Browser::chrome, content);
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

TEST(Validation, FirefoxIdsAndDescription) {
  EXPECT_TRUE(validate_allowed_extension("{0b9c5a4e-1111-4c2d-9e8f-000000000000}"));
  EXPECT_EQ(validate_allowed_extension("").error().text(), "empty Firefox extension ID");
  EXPECT_EQ(validate_description("\xFF").error().text(), "description is not valid UTF-8");
  EXPECT_EQ(validate_description("\xED\xA0\x80").error().text(), "description is not valid UTF-8");
}

}  // namespace
}  // namespace vk

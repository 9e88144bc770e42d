#include "tools/browser_sandbox.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vk {
namespace {

TEST(SandboxOf, FolderToSandboxAndWhatItCanStart) {
  const struct {
    std::string_view directory;
    std::optional<SandboxKind> kind;  // none: not in a sandbox
    std::string app;
    std::string_view host;  // a program the manifest would name
    bool can_start;
  } cases[] = {
      {"/h/.var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts",
       SandboxKind::flatpak, "org.chromium.Chromium",
       "/h/.var/app/org.chromium.Chromium/data/tarnwick/vellumkeep-native", true},
      {"/h/.var/app/org.chromium.Chromium/config/chromium/NativeMessagingHosts",
       SandboxKind::flatpak, "org.chromium.Chromium", "/usr/bin/vellumkeep-native", false},
      {"/h/.var/app/org.chromium.Chromium/x", SandboxKind::flatpak, "org.chromium.Chromium",
       "/h/.var/app/com.google.Chrome/host", false},
      {"/h/snap/firefox/common/.mozilla/native-messaging-hosts", SandboxKind::snap, "firefox",
       "/h/snap/firefox/common/host", false},
      {"/h/.var/app", std::nullopt, "", "", false},
      {"/h/.mozilla/native-messaging-hosts", std::nullopt, "", "", false},
      {"/other/.var/app/x/y", std::nullopt, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.directory);
    const auto sandbox = sandbox_of(c.directory, "/h/");
    ASSERT_EQ(sandbox.has_value(), c.kind.has_value());
    if (!sandbox) continue;
    EXPECT_EQ(sandbox->kind, *c.kind);
    EXPECT_EQ(sandbox->app, c.app);
    EXPECT_TRUE(c.directory.starts_with(sandbox->root + "/"));
    EXPECT_EQ(sandbox_can_start(*sandbox, c.host), c.can_start);
  }
}

TEST(ShellQuote, PlainWordsStayQuotedOnesRoundTrip) {
  const struct {
    std::string_view word;
    std::string quoted;
  } cases[] = {
      {"/usr/local/bin/vellumkeep-native", "/usr/local/bin/vellumkeep-native"},
      {"--allowed-extension=vault@tarnwick.example", "--allowed-extension=vault@tarnwick.example"},
      {"/Users/a b/host", "'/Users/a b/host'"},
      {"it's", "'it'\\''s'"},
      {"$HOME", "'$HOME'"},
      {"", "''"},
  };
  for (const auto& c : cases) EXPECT_EQ(shell_quote(c.word), c.quoted) << c.word;
}

}  // namespace
}  // namespace vk

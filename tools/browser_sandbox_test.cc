#include "tools/browser_sandbox.h"

#include <gtest/gtest.h>

#include <string>

namespace vk {
namespace {

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

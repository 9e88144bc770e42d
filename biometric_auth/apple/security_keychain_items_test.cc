// The bridge's keychain operations on a Mac's real Security keychain, in
// keychains a test run prepares and never a person's own:
//   VK_TEST_KEYCHAIN         an unlocked keychain that is the default one and
//                            first in the user's search list (new items land
//                            there);
//   VK_TEST_SECOND_KEYCHAIN  another unlocked keychain in the search list, in
//                            which a copy of an item is planted with
//                            /usr/bin/security.
// Without the first the binary reports itself skipped (exit 77); without the
// second, only the test that needs it is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/testing/fake_seams.h"
#include "tests/child_process.h"

namespace vk::biometric {
namespace {

constexpr const char* kKeychainVariable = "VK_TEST_KEYCHAIN";
constexpr const char* kSecondKeychainVariable = "VK_TEST_SECOND_KEYCHAIN";
constexpr const char* kBom = "\xEF\xBB\xBF";  // U+FEFF

// A manager on this Mac's keychain; its biometric side is never used.
class SystemKeychainManager : public BiometricAuthManager {
 public:
  SystemKeychainManager()
      : BiometricAuthManager(std::make_unique<testing::FakeBiometricPlatform>(
                                 std::make_shared<testing::FakeBiometricScript>()),
                             makeSystemKeychainItems(), std::chrono::milliseconds(50)) {}
};

// A service name of this run only, so that runs never meet.
std::string serviceOfThisRun(std::string_view name) {
  return "com.tarnwick.vellumkeep.test." + std::string(name) + "." + std::to_string(getpid());
}

// Exit code of /usr/bin/security run with `args`, or -1 when it did not exit.
int runSecurityTool(std::vector<std::string> args) {
  vk::testing::ChildOptions options;
  options.argv = std::move(args);
  options.argv.insert(options.argv.begin(), "/usr/bin/security");
  // The search list is the user's: the tool finds it through HOME.
  if (const char* home = std::getenv("HOME")) options.env.push_back(std::string("HOME=") + home);
  options.stdin_mode = vk::testing::StdStream::dev_null;
  Result<vk::testing::ChildOutput> ran = vk::testing::run_child(options);
  if (!ran) {
    ADD_FAILURE() << ran.error().text();
    return -1;
  }
  return ran->status.exited ? ran->status.code : -1;
}

bool foundIn(const char* keychain, const std::string& service, const std::string& key) {
  return runSecurityTool({"find-generic-password", "-s", service, "-a", key, keychain}) == 0;
}

TEST(SecurityKeychainItemsTest, StoreRetrieveReplaceDelete) {
  SystemKeychainManager manager;
  const std::string service = serviceOfThisRun("round-trip");
  EXPECT_EQ(manager.retrieveFromKeychain("k", service), std::nullopt);
  const std::string value = "s\xC3\xA9" "cret";
  EXPECT_EQ(manager.storeInKeychain("k", value, service), (KeychainStoreResult{true, 0}));
  EXPECT_TRUE(foundIn(std::getenv(kKeychainVariable), service, "k"));
  EXPECT_EQ(manager.retrieveFromKeychain("k", service), value);
  EXPECT_EQ(manager.storeInKeychain("k", "", service), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(manager.retrieveFromKeychain("k", service), "");
  EXPECT_TRUE(manager.deleteFromKeychain("k", service));
  EXPECT_EQ(manager.retrieveFromKeychain("k", service), std::nullopt);
  EXPECT_TRUE(manager.deleteFromKeychain("k", service));
}

TEST(SecurityKeychainItemsTest, ALeadingByteOrderMarkMakesAnotherItem) {
  SystemKeychainManager manager;
  const std::string service = serviceOfThisRun("bom");
  struct Names {
    std::string key;
    std::string service;
  };
  // Each row: a name without the mark, and the same name with it.
  const std::vector<std::pair<Names, Names>> rows = {
      {{"k", service}, {kBom + std::string("k"), service}},
      {{"k", service}, {"k", kBom + service}},
  };
  for (const auto& [plain, marked] : rows) {
    SCOPED_TRACE(::testing::PrintToString(marked.key + "@" + marked.service));
    ASSERT_TRUE(manager.storeInKeychain(plain.key, "plain", plain.service).success);
    ASSERT_TRUE(manager.storeInKeychain(marked.key, "marked", marked.service).success);
    EXPECT_EQ(manager.retrieveFromKeychain(plain.key, plain.service), "plain");
    EXPECT_EQ(manager.retrieveFromKeychain(marked.key, marked.service), "marked");
    EXPECT_TRUE(manager.deleteFromKeychain(marked.key, marked.service));
    EXPECT_EQ(manager.retrieveFromKeychain(marked.key, marked.service), std::nullopt);
    EXPECT_EQ(manager.retrieveFromKeychain(plain.key, plain.service), "plain");
    EXPECT_TRUE(manager.deleteFromKeychain(plain.key, plain.service));
  }
}

TEST(SecurityKeychainItemsTest, DeleteRemovesTheCopyInEveryKeychain) {
  const char* second = std::getenv(kSecondKeychainVariable);
  if (second == nullptr) GTEST_SKIP() << kSecondKeychainVariable << " is not set";
  SystemKeychainManager manager;
  const std::string service = serviceOfThisRun("copies");
  ASSERT_TRUE(manager.storeInKeychain("k", "first", service).success);
  // Readable by any program, so that deleting it asks nobody.
  ASSERT_EQ(runSecurityTool({"add-generic-password", "-A", "-s", service, "-a", "k", "-w",
                             "second", second}),
            0);
  ASSERT_TRUE(foundIn(std::getenv(kKeychainVariable), service, "k"));
  ASSERT_TRUE(foundIn(second, service, "k"));

  EXPECT_TRUE(manager.deleteFromKeychain("k", service));
  EXPECT_FALSE(foundIn(std::getenv(kKeychainVariable), service, "k"));
  EXPECT_FALSE(foundIn(second, service, "k"));
  EXPECT_EQ(manager.retrieveFromKeychain("k", service), std::nullopt);
}

}  // namespace
}  // namespace vk::biometric

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (std::getenv(vk::biometric::kKeychainVariable) == nullptr) {
    std::fprintf(stderr, "skipped: %s is not set (a prepared keychain; never a person's own)\n",
                 vk::biometric::kKeychainVariable);
    return 77;
  }
  return RUN_ALL_TESTS();
}

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/testing/fake_seams.h"

namespace vk::biometric {
namespace {

using testing::FakeBiometricScript;
using testing::FakeKeychainStore;
using testing::TestManager;
using Calls = std::vector<std::string>;

constexpr OSStatus errSecDiskFull = -34;
constexpr OSStatus errSecIO = -36;

class KeychainTest : public ::testing::Test {
 protected:
  void put(const std::string& service, const std::string& key, std::string data) {
    store->items[{service, key}] = std::move(data);
  }
  std::optional<std::string> stored(const std::string& service, const std::string& key) {
    auto it = store->items.find({service, key});
    if (it == store->items.end()) return std::nullopt;
    return it->second;
  }

  std::shared_ptr<FakeBiometricScript> script = std::make_shared<FakeBiometricScript>();
  std::shared_ptr<FakeKeychainStore> store = std::make_shared<FakeKeychainStore>();
  TestManager manager{script, store};
};

TEST_F(KeychainTest, StoreOfANewItemThenRetrieve) {
  EXPECT_EQ(manager.storeInKeychain("k", "s\xC3\xA9" "cret", "svc"), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "remove", "add"}));
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), "s\xC3\xA9" "cret");
}

TEST_F(KeychainTest, StoreReplacesAnExistingItem) {
  put("svc", "k", "old");
  EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "remove", "add"}));
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), "new");
}

TEST_F(KeychainTest, ItemThatSurvivesTheDeleteIsUpdated) {
  put("svc", "k", "old");
  store->failNextRemove = {errSecInteractionNotAllowed};
  EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "remove", "add", "update"}));
  EXPECT_EQ(stored("svc", "k"), "new");
}

TEST_F(KeychainTest, FailedUpdateReportsItsStatusAndKeepsTheItem) {
  put("svc", "k", "old");
  store->failNextRemove = {errSecInteractionNotAllowed};
  store->failNextUpdate = {errSecIO};
  EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"), (KeychainStoreResult{false, errSecIO}));
  EXPECT_EQ(stored("svc", "k"), "old");
}

TEST_F(KeychainTest, StoreDeletesThroughDynamicDispatch) {
  // A manager whose delete removes nothing: the store must go through it and
  // then fall back to updating the item.
  struct KeepingManager : TestManager {
    using TestManager::TestManager;
    bool deleteFromKeychain(std::string_view key, std::string_view service) override {
      deletes.emplace_back(std::string(key) + "@" + std::string(service));
      return true;
    }
    std::vector<std::string> deletes;
  };
  KeepingManager keeping{script, store};
  put("svc", "k", "old");
  EXPECT_EQ(keeping.storeInKeychain("k", "new", "svc"), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(keeping.deletes, std::vector<std::string>{"k@svc"});
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "add", "update"}));
  EXPECT_EQ(stored("svc", "k"), "new");
}

TEST_F(KeychainTest, FailedAddPutsTheOldValueBack) {
  put("svc", "k", "old\xFF bytes");  // restored byte for byte, even if not text
  store->failNextAdd = {errSecDiskFull};
  EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"),
            (KeychainStoreResult{false, errSecDiskFull}));
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "remove", "add", "add"}));
  EXPECT_EQ(stored("svc", "k"), "old\xFF bytes");
}

TEST_F(KeychainTest, FailedAddWithoutAnOldItemLeavesNothing) {
  store->failNextAdd = {errSecDiskFull};
  EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"),
            (KeychainStoreResult{false, errSecDiskFull}));
  EXPECT_EQ(store->calls, (Calls{"copyMatching", "remove", "add"}));
  EXPECT_TRUE(store->items.empty());
}

TEST_F(KeychainTest, StoreStopsWhenTheFirstReadCannotUseTheKeychain) {
  // Refused by the person, nobody to ask, out of reach: asking again or
  // deleting could only make it worse.
  for (OSStatus refused : {errSecUserCanceled, errSecInteractionNotAllowed, errSecNotAvailable}) {
    SCOPED_TRACE(refused);
    store->calls.clear();
    put("svc", "k", "old");
    store->failNextCopy = {refused};
    EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"), (KeychainStoreResult{false, refused}));
    EXPECT_EQ(store->calls, (Calls{"copyMatching"}));
    EXPECT_EQ(stored("svc", "k"), "old");
  }
}

TEST_F(KeychainTest, StoreReadsTheOldItemWithoutUIWhereTheKeychainCan) {
  // Where only a person could release the old data, the store goes on as if
  // there were none: it cannot wait on a dialog, and has nothing to put back.
  struct Row {
    OSStatus read;  // forced answer of the read; errSecSuccess reads the item
    std::deque<OSStatus> addFails;
    KeychainStoreResult result;
    Calls calls;
    std::optional<std::string> left;
  };
  const Calls replaced{"copyMatchingWithoutUI", "remove", "add"};
  const Calls putBack{"copyMatchingWithoutUI", "remove", "add", "add"};
  const std::vector<Row> rows = {
      {errSecSuccess, {}, {true, 0}, replaced, "new"},
      {errSecSuccess, {errSecDiskFull}, {false, errSecDiskFull}, putBack, "old"},
      {errSecInteractionNotAllowed, {}, {true, 0}, replaced, "new"},
      {errSecAuthFailed, {}, {true, 0}, replaced, "new"},
      {errSecInteractionNotAllowed, {errSecDiskFull}, {false, errSecDiskFull}, replaced,
       std::nullopt},
      {errSecNotAvailable, {}, {false, errSecNotAvailable}, {"copyMatchingWithoutUI"}, "old"},
  };
  store->readsWithoutUI = true;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.read);
    store->calls.clear();
    put("svc", "k", "old");
    if (row.read != errSecSuccess) store->failNextCopy = {row.read};
    store->failNextAdd = row.addFails;
    EXPECT_EQ(manager.storeInKeychain("k", "new", "svc"), row.result);
    EXPECT_EQ(store->calls, row.calls);
    EXPECT_EQ(stored("svc", "k"), row.left);
  }
}

TEST_F(KeychainTest, EachPublicOperationIsOneKeychainOperation) {
  put("svc", "k", "old");
  store->failNextAdd = {errSecDiskFull};  // a store that takes every step
  (void)manager.storeInKeychain("k", "new", "svc");
  (void)manager.retrieveFromKeychain("k", "svc");
  (void)manager.deleteFromKeychain("k", "svc");
  EXPECT_EQ(store->calls.size(), 6u);
  EXPECT_EQ(store->callsOutsideOperations, 0);
  EXPECT_EQ(store->operationDepth, 0);
}

TEST_F(KeychainTest, IllFormedValueIsRefusedBeforeTheKeychainIsTouched) {
  put("svc", "k", "old");
  EXPECT_EQ(manager.storeInKeychain("k", "bad\xC0\xAF", "svc"),
            (KeychainStoreResult{false, errSecParam}));
  EXPECT_TRUE(store->calls.empty());
  EXPECT_EQ(stored("svc", "k"), "old");
}

TEST_F(KeychainTest, EmptyValueIsAValueNotAbsent) {
  EXPECT_EQ(manager.storeInKeychain("k", "", "svc"), (KeychainStoreResult{true, 0}));
  EXPECT_EQ(stored("svc", "k"), "");
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), "");
}

TEST_F(KeychainTest, SameKeyUnderTwoServicesIsTwoItems) {
  ASSERT_TRUE(manager.storeInKeychain("k", "one", "a").success);
  ASSERT_TRUE(manager.storeInKeychain("k", "two", "b").success);
  EXPECT_EQ(manager.retrieveFromKeychain("k", "a"), "one");
  EXPECT_EQ(manager.retrieveFromKeychain("k", "b"), "two");
  EXPECT_TRUE(manager.deleteFromKeychain("k", "a"));
  EXPECT_EQ(manager.retrieveFromKeychain("k", "a"), std::nullopt);
  EXPECT_EQ(manager.retrieveFromKeychain("k", "b"), "two");
}

TEST_F(KeychainTest, RetrieveGivesAbsentForEveryFailure) {
  EXPECT_EQ(manager.retrieveFromKeychain("missing", "svc"), std::nullopt);

  put("svc", "k", "fine");
  store->failNextCopy = {errSecInteractionNotAllowed};
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), std::nullopt);
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), "fine");

  // Data written by another program that is not UTF-8.
  for (std::string bytes : {"\xFF", "a\xC3", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80"}) {
    put("svc", "k", bytes);
    EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), std::nullopt) << bytes;
  }
}

TEST_F(KeychainTest, DeleteCountsAMissingItemAsGone) {
  EXPECT_TRUE(manager.deleteFromKeychain("missing", "svc"));

  put("svc", "k", "v");
  EXPECT_TRUE(manager.deleteFromKeychain("k", "svc"));
  EXPECT_EQ(manager.retrieveFromKeychain("k", "svc"), std::nullopt);

  put("svc", "k", "v");
  store->failNextRemove = {errSecInteractionNotAllowed};
  EXPECT_FALSE(manager.deleteFromKeychain("k", "svc"));
  EXPECT_EQ(stored("svc", "k"), "v");
}

TEST_F(KeychainTest, KeychainOperationsLeaveLastErrorAlone) {
  script->setReply(false, PlatformError{std::string(kLocalAuthenticationErrorDomain), -2});
  ASSERT_EQ(manager.authenticate("r"), BiometricError::userCancel);
  (void)manager.storeInKeychain("k", "v", "svc");
  (void)manager.retrieveFromKeychain("k", "svc");
  (void)manager.deleteFromKeychain("k", "svc");
  EXPECT_EQ(manager.getLastError(), BiometricError::userCancel);
}

}  // namespace
}  // namespace vk::biometric

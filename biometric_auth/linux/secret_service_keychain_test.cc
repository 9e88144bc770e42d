#include "biometric_auth/linux/secret_service_keychain.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "biometric_auth/linux/desktop_session_probe.h"

namespace vk::biometric::linux_backend {
namespace {

using namespace std::chrono_literals;

const SecretSchema* foreignSchema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "org.example.SomeoneElse";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {kServiceAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {kAccountAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

GVariant* callSecrets(const char* path, const char* interface, const char* method,
                      GVariant* args, const char* reply_type) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
    return nullptr;
  }
  GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", path, interface,
                                                method, args, G_VARIANT_TYPE(reply_type),
                                                G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  g_object_unref(bus);
  if (reply == nullptr) {
    ADD_FAILURE() << method << ": " << error->message;
    g_error_free(error);
  }
  return reply;
}

// Counts items of our schema straight from the service, independent of the backend.
std::size_t storedItemCount(const std::string& service, const std::string& account) {
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSecretSchemaName);
  g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, service.c_str());
  g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, account.c_str());
  GVariant* reply = callSecrets("/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                "SearchItems", g_variant_new("(a{ss})", &attributes), "(aoao)");
  if (reply == nullptr) return 0;
  GVariant* unlocked = g_variant_get_child_value(reply, 0);
  GVariant* locked = g_variant_get_child_value(reply, 1);
  const std::size_t count = g_variant_n_children(unlocked) + g_variant_n_children(locked);
  g_variant_unref(unlocked);
  g_variant_unref(locked);
  g_variant_unref(reply);
  return count;
}

constexpr const char* kLoginCollection = "/org/freedesktop/secrets/collection/login";

void lockLoginKeyring() {
  const char* paths[] = {kLoginCollection, nullptr};
  GVariant* reply = callSecrets("/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                "Lock", g_variant_new("(^ao)", paths), "(aoo)");
  if (reply != nullptr) g_variant_unref(reply);
}

// Unlocks without a prompt through gnome-keyring's own interface, with the
// password the session script gave the login keyring.
void unlockLoginKeyring() {
  const char* password = std::getenv("VK_TEST_KEYRING_PASSWORD");
  ASSERT_NE(password, nullptr);
  // The session lives as long as the connection that opened it: hold it.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  GVariant* opened = callSecrets("/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                 "OpenSession",
                                 g_variant_new("(sv)", "plain", g_variant_new_string("")),
                                 "(vo)");
  ASSERT_NE(opened, nullptr);
  GVariant* output = nullptr;
  const gchar* session = nullptr;
  g_variant_get(opened, "(v&o)", &output, &session);
  GVariant* secret = g_variant_new(
      "(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password, std::strlen(password), 1),
      "text/plain");
  GVariant* reply = callSecrets("/org/freedesktop/secrets",
                                "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                                "UnlockWithMasterPassword",
                                g_variant_new("(o@(oayays))", kLoginCollection, secret), "()");
  if (reply != nullptr) g_variant_unref(reply);
  g_variant_unref(output);
  g_variant_unref(opened);
  g_object_unref(bus);
}

class SecretServiceKeychainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string reason =
        testing::privateSessionUnavailableReason("org.freedesktop.secrets");
    if (!reason.empty()) GTEST_SKIP() << reason;
    keychain_ = makeSecretServiceKeychain({});
  }

  std::string copy(const std::string& service, const std::string& account, OSStatus expected) {
    std::string data = "untouched";
    EXPECT_EQ(keychain_->copyMatching(service, account, data), expected);
    return data;
  }

  std::unique_ptr<KeychainItems> keychain_;
};

TEST_F(SecretServiceKeychainTest, ItemLifecycleKeepsTheKeychainContract) {
  const std::string service = "com.tarnwick.lifecycle";
  EXPECT_EQ(copy(service, "alice", errSecItemNotFound), "untouched");
  EXPECT_EQ(keychain_->update(service, "alice", "x"), errSecItemNotFound);
  EXPECT_EQ(keychain_->remove(service, "alice"), errSecItemNotFound);

  EXPECT_EQ(keychain_->add(service, "alice", "first"), errSecSuccess);
  EXPECT_EQ(copy(service, "alice", errSecSuccess), "first");

  // An add over an existing identity must neither overwrite nor duplicate.
  EXPECT_EQ(keychain_->add(service, "alice", "second"), errSecDuplicateItem);
  EXPECT_EQ(copy(service, "alice", errSecSuccess), "first");
  EXPECT_EQ(storedItemCount(service, "alice"), 1u);

  EXPECT_EQ(keychain_->update(service, "alice", "third"), errSecSuccess);
  EXPECT_EQ(copy(service, "alice", errSecSuccess), "third");
  EXPECT_EQ(storedItemCount(service, "alice"), 1u);

  EXPECT_EQ(keychain_->remove(service, "alice"), errSecSuccess);
  EXPECT_EQ(copy(service, "alice", errSecItemNotFound), "untouched");
  EXPECT_EQ(keychain_->remove(service, "alice"), errSecItemNotFound);
  EXPECT_EQ(storedItemCount(service, "alice"), 0u);
}

TEST_F(SecretServiceKeychainTest, IdentityIsServiceAndAccountTogether) {
  ASSERT_EQ(keychain_->add("com.tarnwick.one", "shared", "in one"), errSecSuccess);
  ASSERT_EQ(keychain_->add("com.tarnwick.two", "shared", "in two"), errSecSuccess);
  ASSERT_EQ(keychain_->add("com.tarnwick.one", "other", "other key"), errSecSuccess);

  EXPECT_EQ(keychain_->remove("com.tarnwick.one", "shared"), errSecSuccess);
  EXPECT_EQ(copy("com.tarnwick.one", "shared", errSecItemNotFound), "untouched");
  EXPECT_EQ(copy("com.tarnwick.two", "shared", errSecSuccess), "in two");
  EXPECT_EQ(copy("com.tarnwick.one", "other", errSecSuccess), "other key");

  // An empty service or account is an identity like any other.
  ASSERT_EQ(keychain_->add("", "", "empty identity"), errSecSuccess);
  EXPECT_EQ(copy("", "", errSecSuccess), "empty identity");
  EXPECT_EQ(copy("", "shared", errSecItemNotFound), "untouched");
}

TEST_F(SecretServiceKeychainTest, DataRoundTripsAsRawBytes) {
  std::string large(70'000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 % 256);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"nul only", std::string(1, '\0')},
      {"not utf-8", std::string("\xff\xfe\x00\x80\xc3", 5)},
      {"utf-8 text", "caf\xc3\xa9 \xf0\x9f\x94\x91"},
      {"large binary", large},
  };
  for (const auto& [account, data] : cases) {
    SCOPED_TRACE(account);
    ASSERT_EQ(keychain_->add("com.tarnwick.bytes", account, data), errSecSuccess);
    EXPECT_EQ(copy("com.tarnwick.bytes", account, errSecSuccess), data);
  }
}

TEST_F(SecretServiceKeychainTest, ItemsOfAnotherSchemaAreNotOurs) {
  GError* error = nullptr;
  ASSERT_TRUE(secret_password_store_sync(foreignSchema(), SECRET_COLLECTION_DEFAULT, "foreign",
                                         "theirs", nullptr, &error, kServiceAttribute,
                                         "com.tarnwick.foreign", kAccountAttribute, "bob",
                                         nullptr));
  EXPECT_EQ(copy("com.tarnwick.foreign", "bob", errSecItemNotFound), "untouched");
  EXPECT_EQ(keychain_->remove("com.tarnwick.foreign", "bob"), errSecItemNotFound);
  EXPECT_EQ(keychain_->add("com.tarnwick.foreign", "bob", "ours"), errSecSuccess);
  EXPECT_EQ(copy("com.tarnwick.foreign", "bob", errSecSuccess), "ours");

  gchar* theirs = secret_password_lookup_sync(foreignSchema(), nullptr, &error,
                                              kServiceAttribute, "com.tarnwick.foreign",
                                              kAccountAttribute, "bob", nullptr);
  ASSERT_NE(theirs, nullptr);
  EXPECT_STREQ(theirs, "theirs");
  secret_password_free(theirs);
}

TEST_F(SecretServiceKeychainTest, IdentityThatIsNotUtf8IsRefusedBeforeTheBus) {
  const std::string bad("\xff", 1);
  const std::string with_nul("a\0b", 3);
  std::string data;
  EXPECT_EQ(keychain_->add(bad, "a", "x"), errSecParam);
  EXPECT_EQ(keychain_->update("s", bad, "x"), errSecParam);
  EXPECT_EQ(keychain_->copyMatching(with_nul, "a", data), errSecParam);
  EXPECT_EQ(keychain_->remove("s", with_nul), errSecParam);
}

TEST_F(SecretServiceKeychainTest, ConcurrentAddsLeaveExactlyOneItemAndOneSuccess) {
  constexpr int kWriters = 6;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const std::string account = "racer-" + std::to_string(round);
    std::vector<OSStatus> statuses(kWriters, 1);
    std::atomic<int> ready{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < kWriters; ++i) {
      writers.emplace_back([&, i] {
        // Each thread has its own keychain object and private main context.
        auto keychain = makeSecretServiceKeychain({});
        ready.fetch_add(1);
        while (ready.load() < kWriters) std::this_thread::yield();
        statuses[static_cast<std::size_t>(i)] =
            keychain->add("com.tarnwick.race", account, "writer " + std::to_string(i));
      });
    }
    for (auto& writer : writers) writer.join();

    int winners = 0;
    std::string expected;
    for (int i = 0; i < kWriters; ++i) {
      const OSStatus status = statuses[static_cast<std::size_t>(i)];
      EXPECT_TRUE(status == errSecSuccess || status == errSecDuplicateItem) << status;
      if (status == errSecSuccess) {
        ++winners;
        expected = "writer " + std::to_string(i);
      }
    }
    EXPECT_EQ(winners, 1);
    EXPECT_EQ(storedItemCount("com.tarnwick.race", account), 1u);
    EXPECT_EQ(copy("com.tarnwick.race", account, errSecSuccess), expected);
  }
}

TEST_F(SecretServiceKeychainTest, LockedKeyringWithNobodyToPromptRefusesInteraction) {
  ASSERT_EQ(keychain_->add("com.tarnwick.locked", "present", "kept"), errSecSuccess);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  lockLoginKeyring();

  std::string data = "untouched";
  EXPECT_EQ(keychain_->copyMatching("com.tarnwick.locked", "present", data),
            errSecInteractionNotAllowed);
  EXPECT_EQ(data, "untouched");
  EXPECT_EQ(keychain_->update("com.tarnwick.locked", "present", "new"),
            errSecInteractionNotAllowed);
  EXPECT_EQ(keychain_->remove("com.tarnwick.locked", "present"), errSecInteractionNotAllowed);
  EXPECT_EQ(keychain_->add("com.tarnwick.locked", "absent", "new"), errSecInteractionNotAllowed);
  // Locked items still count for identity: no duplicate appears behind the lock.
  EXPECT_EQ(keychain_->add("com.tarnwick.locked", "present", "new"), errSecDuplicateItem);
  // Nothing matching stays "not found", locked or not.
  EXPECT_EQ(keychain_->remove("com.tarnwick.locked", "absent"), errSecItemNotFound);

  unlockLoginKeyring();
  EXPECT_EQ(copy("com.tarnwick.locked", "present", errSecSuccess), "kept");
  EXPECT_EQ(storedItemCount("com.tarnwick.locked", "absent"), 0u);
}

TEST_F(SecretServiceKeychainTest, FrozenServiceIsNotAvailableAtTheDeadline) {
  ASSERT_EQ(keychain_->add("com.tarnwick.frozen", "k", "v"), errSecSuccess);
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  ASSERT_NE(bus, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixProcessID", g_variant_new("(s)", "org.freedesktop.secrets"),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  g_object_unref(bus);
  ASSERT_NE(reply, nullptr);
  guint32 pid = 0;
  g_variant_get(reply, "(u)", &pid);
  g_variant_unref(reply);

  auto quick = makeSecretServiceKeychain({.call = 300ms, .prompt = 300ms});
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGSTOP), 0);
  std::string data = "untouched";
  const OSStatus copied = quick->copyMatching("com.tarnwick.frozen", "k", data);
  const OSStatus added = quick->add("com.tarnwick.frozen", "k2", "v");
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGCONT), 0);

  EXPECT_EQ(copied, errSecNotAvailable);
  EXPECT_EQ(data, "untouched");
  EXPECT_EQ(added, errSecNotAvailable);
  // The daemon recovers and the keychain with it.
  EXPECT_EQ(copy("com.tarnwick.frozen", "k", errSecSuccess), "v");
}

// Runs in a fresh child process: GIO caches nothing about the bus there yet.
int statusesWithoutABus() {
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=./no-such-session-bus", 1);
  auto keychain = makeSecretServiceKeychain({.call = 5s, .prompt = 5s});
  std::string data;
  const bool all_unavailable =
      keychain->add("s", "a", "v") == errSecNotAvailable &&
      keychain->update("s", "a", "v") == errSecNotAvailable &&
      keychain->copyMatching("s", "a", data) == errSecNotAvailable &&
      keychain->remove("s", "a") == errSecNotAvailable;
  return all_unavailable ? 0 : 1;
}

TEST(SecretServiceKeychainWithoutBus, EveryCallIsNotAvailable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::_Exit(statusesWithoutABus()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vk::biometric::linux_backend

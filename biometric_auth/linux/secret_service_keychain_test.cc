#include "biometric_auth/linux/secret_service_keychain.h"

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "biometric_auth/biometric_auth.h"
#include "biometric_auth/testing/fake_seams.h"
#include "biometric_auth/linux/testing/dbus_mock_service.h"
#include "biometric_auth/linux/testing/desktop_session_probe.h"

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

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kLoginCollection = "/org/freedesktop/secrets/collection/login";
// gnome-keyring's in-memory keyring: always unlocked, never the default.
constexpr const char* kSessionCollection = "/org/freedesktop/secrets/collection/session";

GVariant* callSecrets(const char* path, const char* interface, const char* method,
                      GVariant* args, const char* reply_type) {
  return testing::callSessionMethod(kSecretsName, path, interface, method, args, reply_type);
}

// Object paths of our schema's items with this identity, straight from the
// service, independent of the backend.
std::vector<std::string> storedItemPaths(const std::string& service, const std::string& account) {
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSecretSchemaName);
  g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, service.c_str());
  g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, account.c_str());
  GVariant* reply = callSecrets(kSecretsPath, kServiceInterface, "SearchItems",
                                g_variant_new("(a{ss})", &attributes), "(aoao)");
  std::vector<std::string> paths;
  if (reply == nullptr) return paths;
  GVariantIter* unlocked = nullptr;
  GVariantIter* locked = nullptr;
  g_variant_get(reply, "(aoao)", &unlocked, &locked);
  const gchar* path = nullptr;
  while (g_variant_iter_next(unlocked, "&o", &path)) paths.emplace_back(path);
  while (g_variant_iter_next(locked, "&o", &path)) paths.emplace_back(path);
  g_variant_iter_free(unlocked);
  g_variant_iter_free(locked);
  g_variant_unref(reply);
  return paths;
}

std::size_t storedItemCount(const std::string& service, const std::string& account) {
  return storedItemPaths(service, account).size();
}

void lockLoginKeyring() {
  const char* paths[] = {kLoginCollection, nullptr};
  GVariant* reply = callSecrets(kSecretsPath, kServiceInterface, "Lock",
                                g_variant_new("(^ao)", paths), "(aoo)");
  if (reply != nullptr) g_variant_unref(reply);
}

// A Secret Service session without transport encryption, for the test's own
// calls. It lives as long as the connection that opened it: hold `bus`.
std::string openPlainSession(GDBusConnection* bus) {
  GError* error = nullptr;
  GVariant* opened = g_dbus_connection_call_sync(
      bus, kSecretsName, kSecretsPath, kServiceInterface, "OpenSession",
      g_variant_new("(sv)", "plain", g_variant_new_string("")), G_VARIANT_TYPE("(vo)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  if (opened == nullptr) {
    ADD_FAILURE() << "OpenSession: " << error->message;
    g_error_free(error);
    return {};
  }
  GVariant* output = nullptr;
  const gchar* session = nullptr;
  g_variant_get(opened, "(v&o)", &output, &session);
  std::string result(session);
  g_variant_unref(output);
  g_variant_unref(opened);
  return result;
}

GVariant* plainSecret(const std::string& session, std::string_view bytes,
                      const char* content_type) {
  return g_variant_new(
      "(o@ay@ays)", session.c_str(), g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
      g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1),
      content_type);
}

// Unlocks without a prompt through gnome-keyring's own interface, with the
// password the session script gave the login keyring.
void unlockLoginKeyring() {
  const char* password = std::getenv("VK_TEST_KEYRING_PASSWORD");
  ASSERT_NE(password, nullptr);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  const std::string session = openPlainSession(bus);
  GVariant* reply = callSecrets(
      kSecretsPath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
      "UnlockWithMasterPassword",
      g_variant_new("(o@(oayays))", kLoginCollection,
                    plainSecret(session, password, "text/plain")),
      "()");
  if (reply != nullptr) g_variant_unref(reply);
  g_object_unref(bus);
}

// Creates an item of ours in `collection`, as another client of the same
// schema (or an earlier version of us) would have.
void createItemIn(const char* collection, const std::string& service, const std::string& account,
                  std::string_view data) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  const std::string session = openPlainSession(bus);
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSecretSchemaName);
  g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, service.c_str());
  g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, account.c_str());
  GVariantBuilder properties;
  g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label",
                        g_variant_new_string(service.c_str()));
  g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                        g_variant_builder_end(&attributes));
  GVariant* reply = callSecrets(
      collection, "org.freedesktop.Secret.Collection", "CreateItem",
      g_variant_new("(a{sv}@(oayays)b)", &properties,
                    plainSecret(session, data, kSecretContentType), FALSE),
      "(oo)");
  if (reply != nullptr) g_variant_unref(reply);
  g_object_unref(bus);
}

// The keyring daemon's process, or 0 when none owns the name.
guint32 keyringPid() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return 0;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixProcessID", g_variant_new("(s)", kSecretsName), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  g_object_unref(bus);
  guint32 pid = 0;
  if (reply != nullptr) {
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
  }
  return pid;
}

// Starts a fresh keyring daemon in place of the running one (or of one that
// died), as after a crash or a new login: its keyrings are locked and have
// not been unlocked since it started.
void restartKeyring() {
  const guint32 old_pid = keyringPid();
  ASSERT_EQ(std::system("gnome-keyring-daemon --replace --components=secrets"
                        " </dev/null >/dev/null 2>&1"),
            0);
  for (int i = 0; i < 200; ++i) {
    const guint32 pid = keyringPid();
    if (pid != 0 && pid != old_pid) return;
    std::this_thread::sleep_for(50ms);
  }
  FAIL() << "no new keyring daemon on the bus";
}

// The keyring daemon's resident memory in bytes, 0 when unreadable.
std::size_t residentBytes(guint32 pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  std::size_t pages = 0;
  std::size_t resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Makes the backend believe a person could answer prompts; the mock
// prompter answers them instead.
class DisplayForPrompts {
 public:
  DisplayForPrompts() { setenv("DISPLAY", ":vk-test", 1); }
  DisplayForPrompts(const DisplayForPrompts&) = delete;
  DisplayForPrompts& operator=(const DisplayForPrompts&) = delete;
  ~DisplayForPrompts() { unsetenv("DISPLAY"); }
};

// The system prompter gnome-keyring asks to show its unlock dialogs.
class MockPrompter {
 public:
  explicit MockPrompter(const char* answer)
      : service_(VK_KEYRING_PROMPTER_TEMPLATE, "org.gnome.keyring.SystemPrompter") {
    if (service_.ready()) control("SetAnswer", g_variant_new("(s)", answer));
  }
  bool ready() const { return service_.ready(); }
  int promptCount() { return testing::takeIntReply(control("GetPromptCount", nullptr, "(i)")); }
  // Answers the dialogs left showing, as a person who comes back late would.
  void answerShown(const char* answer) {
    if (GVariant* reply = control("AnswerShown", g_variant_new("(s)", answer))) {
      g_variant_unref(reply);
    }
  }
  bool waitForPrompt() {
    for (int i = 0; i < 400; ++i) {
      if (promptCount() > 0) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }

 private:
  GVariant* control(const char* method, GVariant* args, const char* reply_type = nullptr) {
    return testing::callSessionMethod("org.gnome.keyring.SystemPrompter",
                                      "/org/gnome/keyring/Prompter", testing::kMockInterface,
                                      method, args, reply_type);
  }
  testing::MockService service_;
};

// A call on a thread of its own that may never return: the thread owns
// everything it uses, so a test can stop waiting for it.
class BackgroundCall {
 public:
  explicit BackgroundCall(std::function<OSStatus()> call) : state_(std::make_shared<State>()) {
    std::thread([state = state_, call = std::move(call)] {
      const OSStatus status = call();
      std::lock_guard lock(state->mutex);
      state->status = status;
      state->done.notify_all();
    }).detach();
  }
  // The call's status, or nothing when it has not returned within `bound`.
  std::optional<OSStatus> waitFor(std::chrono::milliseconds bound) {
    std::unique_lock lock(state_->mutex);
    state_->done.wait_for(lock, bound, [&] { return state_->status.has_value(); });
    return state_->status;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<OSStatus> status;
  };
  std::shared_ptr<State> state_;
};

// The real keychain, with another writer acting right after given calls of
// the manager's, each time once.
class InterleavedKeychain final : public KeychainItems {
 public:
  using Steps = std::vector<std::pair<std::string, std::function<void()>>>;
  InterleavedKeychain(std::unique_ptr<KeychainItems> keychain, Steps steps)
      : keychain_(std::move(keychain)), steps_(std::move(steps)) {}

  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    return after("add", keychain_->add(service, account, data));
  }
  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    return after("update", keychain_->update(service, account, data));
  }
  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    return after("copyMatching", keychain_->copyMatching(service, account, data_out));
  }
  OSStatus remove(std::string_view service, std::string_view account) override {
    return after("remove", keychain_->remove(service, account));
  }
  void beginOperation() override { keychain_->beginOperation(); }
  void endOperation() override { keychain_->endOperation(); }
  bool replacesInPlace() const override { return keychain_->replacesInPlace(); }

 private:
  OSStatus after(const std::string& call, OSStatus status) {
    for (auto step = steps_.begin(); step != steps_.end(); ++step) {
      if (step->first == call) {
        step->second();
        steps_.erase(step);
        break;
      }
    }
    return status;
  }

  std::unique_ptr<KeychainItems> keychain_;
  Steps steps_;
};

// The bridge's manager on the real keychain (and a biometric fake it never uses).
class KeychainManager : public BiometricAuthManager {
 public:
  explicit KeychainManager(SecretServiceLimits limits = {})
      : KeychainManager(makeSecretServiceKeychain(limits)) {}
  explicit KeychainManager(std::unique_ptr<KeychainItems> keychain)
      : BiometricAuthManager(std::make_unique<vk::biometric::testing::FakeBiometricPlatform>(
                                 std::make_shared<vk::biometric::testing::FakeBiometricScript>()),
                             std::move(keychain), 50ms) {}

  // What each keychain operation on the key "k" gives, as text for tables.
  std::string store(const std::string& service) {
    const KeychainStoreResult result = storeInKeychain("k", "new", service);
    return std::to_string(result.success) + " " + std::to_string(result.errorCode);
  }
  std::string retrieve(const std::string& service) {
    return retrieveFromKeychain("k", service) ? "value" : "absent";
  }
  std::string remove(const std::string& service) {
    return deleteFromKeychain("k", service) ? "deleted" : "kept";
  }
};

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

TEST_F(SecretServiceKeychainTest, FrozenServiceCostsOneDeadlinePerOperation) {
  const std::string service = "com.tarnwick.frozen";
  ASSERT_EQ(keychain_->add(service, "k", "v"), errSecSuccess);
  const guint32 pid = keyringPid();
  ASSERT_NE(pid, 0u);
  constexpr auto kCall = 1500ms;
  KeychainManager manager({.call = kCall, .prompt = kCall});
  auto quick = makeSecretServiceKeychain({.call = kCall, .prompt = kCall});
  const auto status = [](OSStatus value) { return std::to_string(value); };

  struct Case {
    const char* name;
    std::function<std::string()> run;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"copyMatching",
       [&] {
         std::string data = "untouched";
         return status(quick->copyMatching(service, "k", data)) + " " + data;
       },
       "-25291 untouched"},
      {"add", [&] { return status(quick->add(service, "k2", "v")); }, "-25291"},
      // Every call of one operation against the frozen service shares its deadline.
      {"one operation",
       [&] {
         quick->beginOperation();
         std::string data;
         const std::string statuses = status(quick->copyMatching(service, "k", data)) + " " +
                                      status(quick->remove(service, "k")) + " " +
                                      status(quick->add(service, "k", "v")) + " " +
                                      status(quick->update(service, "k", "v"));
         quick->endOperation();
         return statuses;
       },
       "-25291 -25291 -25291 -25291"},
      {"store", [&] { return manager.store(service); }, "0 -25291"},
      {"retrieve", [&] { return manager.retrieve(service); }, "absent"},
      {"delete", [&] { return manager.remove(service); }, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGSTOP), 0);
    const auto started = std::chrono::steady_clock::now();
    const std::string outcome = c.run();
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGCONT), 0);
    EXPECT_EQ(outcome, c.expected);
    // One deadline for the whole operation, not one per platform call.
    EXPECT_LT(took, kCall * 3 / 2);
  }
  // The daemon recovers and the keychain with it; nothing was changed.
  EXPECT_EQ(copy(service, "k", errSecSuccess), "v");
  EXPECT_EQ(storedItemCount(service, "k2"), 0u);
}

TEST_F(SecretServiceKeychainTest, StoreChangesTheItemWhereItLiesOrNothing) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  struct Case {
    const char* account;
    const char* old_item_in;  // null: no old item
    KeychainStoreResult expected;
    const char* value_after;  // null: no item
  };
  // The default keyring (login) is locked and nobody can answer a prompt.
  const std::vector<Case> cases = {
      {"in-session-keyring", kSessionCollection, {true, errSecSuccess}, "new"},
      {"in-locked-login", kLoginCollection, {false, errSecInteractionNotAllowed}, "old"},
      {"nowhere", nullptr, {false, errSecInteractionNotAllowed}, nullptr},
  };
  const std::string service = "com.tarnwick.in-place";
  KeychainManager manager;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    if (c.old_item_in != nullptr) createItemIn(c.old_item_in, service, c.account, "old");
    lockLoginKeyring();
    EXPECT_EQ(manager.storeInKeychain(c.account, "new", service), c.expected);
    unlockLoginKeyring();

    const std::vector<std::string> paths = storedItemPaths(service, c.account);
    if (c.value_after == nullptr) {
      EXPECT_TRUE(paths.empty());
      continue;
    }
    EXPECT_EQ(copy(service, c.account, errSecSuccess), c.value_after);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0].rfind(std::string(c.old_item_in) + "/", 0), 0u) << paths[0];
  }
}

TEST_F(SecretServiceKeychainTest, DismissedPromptEndsTheOperationAfterOnePrompt) {
  MockPrompter prompter("no");
  ASSERT_TRUE(prompter.ready());
  DisplayForPrompts display;
  const std::string service = "com.tarnwick.one-prompt";
  ASSERT_EQ(keychain_->add(service, "k", "old"), errSecSuccess);
  KeychainManager manager;

  struct Case {
    const char* name;
    std::function<std::string()> run;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"store", [&] { return manager.store(service); }, "0 -128"},
      {"retrieve", [&] { return manager.retrieve(service); }, "absent"},
      {"delete", [&] { return manager.remove(service); }, "kept"},
  };
  int prompts = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lockLoginKeyring();
    EXPECT_EQ(c.run(), c.expected);
    const int shown = prompter.promptCount();
    EXPECT_EQ(shown - prompts, 1);
    prompts = shown;
  }
  unlockLoginKeyring();
  EXPECT_EQ(copy(service, "k", errSecSuccess), "old");
  EXPECT_EQ(storedItemCount(service, "k"), 1u);
}

TEST_F(SecretServiceKeychainTest, ItemsTheServiceCannotMatchYetNeedUnlockingNotNotFound) {
  const std::string service = "com.tarnwick.unmatched";
  ASSERT_EQ(keychain_->add(service, "k", "kept"), errSecSuccess);
  // A fresh daemon has not unlocked the login keyring since it started:
  // gnome-keyring then matches no schema there.
  restartKeyring();
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");

  std::string data = "untouched";
  struct Case {
    const char* name;
    std::function<OSStatus()> run;
  };
  const std::vector<Case> cases = {
      {"copyMatching", [&] { return keychain_->copyMatching(service, "k", data); }},
      {"update", [&] { return keychain_->update(service, "k", "new"); }},
      {"remove", [&] { return keychain_->remove(service, "k"); }},
      {"add", [&] { return keychain_->add(service, "k", "new"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), errSecInteractionNotAllowed);
  }
  EXPECT_EQ(data, "untouched");
  {
    MockPrompter prompter("no");
    ASSERT_TRUE(prompter.ready());
    DisplayForPrompts display;
    EXPECT_EQ(keychain_->copyMatching(service, "k", data), errSecUserCanceled);
    EXPECT_EQ(prompter.promptCount(), 1);
  }

  unlockLoginKeyring();
  EXPECT_EQ(copy(service, "k", errSecSuccess), "kept");
  EXPECT_EQ(storedItemCount(service, "k"), 1u);
}

TEST_F(SecretServiceKeychainTest, PromptEndsWhateverHappensToTheService) {
  struct Case {
    const char* name;
    int signal;  // sent to the daemon while its prompt shows; 0: none
    OSStatus expected;
  };
  const std::vector<Case> cases = {
      // The prompt's limit passes: the call stops waiting but leaves the
      // dialog to the person (gnome-keyring 42 aborts when it is dismissed).
      {"nobody answers", 0, errSecInteractionNotAllowed},
      {"service dies", SIGKILL, errSecNotAvailable},
      // Cancelling the prompt of a frozen service must not wait for its answer.
      {"service freezes", SIGSTOP, errSecInteractionNotAllowed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MockPrompter prompter("");  // the dialog stays up, never answered
    ASSERT_TRUE(prompter.ready());
    DisplayForPrompts display;
    const std::string service = "com.tarnwick.prompt-ends";
    ASSERT_EQ(keychain_->add(service, c.name, "v"), errSecSuccess);
    lockLoginKeyring();
    const guint32 pid = keyringPid();

    std::shared_ptr<KeychainItems> keychain = makeSecretServiceKeychain({.call = 3s, .prompt = 3s});
    BackgroundCall call([keychain, service, account = std::string(c.name)] {
      std::string data;
      return keychain->copyMatching(service, account, data);
    });
    ASSERT_TRUE(prompter.waitForPrompt());
    if (c.signal != 0) {
      ASSERT_EQ(kill(static_cast<pid_t>(pid), c.signal), 0);
    }
    // Well under D-Bus's 25-second default; forever would be a hang.
    EXPECT_EQ(call.waitFor(15s), c.expected);

    if (c.signal == 0) {
      // The dialog is still the person's; their late answer reaches nobody,
      // and the same daemon goes on serving the keyring.
      prompter.answerShown("no");
      std::string data;
      EXPECT_EQ(keychain->copyMatching(service, c.name, data), errSecInteractionNotAllowed);
      EXPECT_EQ(keyringPid(), pid);
      unlockLoginKeyring();
      EXPECT_EQ(copy(service, c.name, errSecSuccess), "v");
      EXPECT_EQ(keyringPid(), pid);
    }
    if (c.signal == SIGSTOP) kill(static_cast<pid_t>(pid), SIGCONT);
    restartKeyring();
    unlockLoginKeyring();
  }
}

TEST_F(SecretServiceKeychainTest, DeleteIsDoneOnlyWhenALiveServiceNoLongerFindsTheItem) {
  // A stand-in takes the daemon's place and decides what happens while the
  // backend looks at the item it listed.
  const guint32 pid = keyringPid();
  ASSERT_NE(pid, 0u);
  ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGKILL), 0);
  struct Case {
    const char* fate;
    OSStatus expected;
  };
  const std::vector<Case> cases = {
      {"kept", errSecSuccess},
      // Another writer deleted it meanwhile; the service that says so is there.
      {"gone", errSecItemNotFound},
      {"gone-when-deleted", errSecSuccess},
      // The service left: nothing says the item is gone.
      {"exits-when-read", errSecNotAvailable},
      {"exits-when-deleted", errSecNotAvailable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fate);
    // The name is free once the bus has seen the last owner go.
    for (int i = 0; i < 200 && testing::sessionNameOwned(kSecretsName); ++i) {
      std::this_thread::sleep_for(25ms);
    }
    testing::MockService stand_in(VK_SECRET_SERVICE_STAND_IN_TEMPLATE, kSecretsName);
    ASSERT_TRUE(stand_in.ready());
    if (GVariant* reply = testing::callSessionMethod(kSecretsName, kSecretsPath,
                                                     testing::kMockInterface, "SetItemFate",
                                                     g_variant_new("(s)", c.fate))) {
      g_variant_unref(reply);
    }
    auto keychain = makeSecretServiceKeychain({.call = 5s, .prompt = 5s});
    EXPECT_EQ(keychain->remove("com.tarnwick.stand-in", "k"), c.expected);
  }
}

TEST_F(SecretServiceKeychainTest, StoreMeetingAConcurrentDeleteCreatesTheItem) {
  const std::string service = "com.tarnwick.concurrent-delete";
  // What another writer does to the item, through the service directly.
  const auto deleteIt = [&] {
    for (const std::string& path : storedItemPaths(service, "k")) {
      if (GVariant* reply = callSecrets(path.c_str(), "org.freedesktop.Secret.Item", "Delete",
                                        nullptr, "(o)")) {
        g_variant_unref(reply);
      }
    }
  };
  const auto createIt = [&] { createItemIn(kLoginCollection, service, "k", "theirs"); };
  struct Case {
    const char* name;
    bool item_before;
    InterleavedKeychain::Steps steps;
  };
  const std::vector<Case> cases = {
      {"deleted after the store found it", true, {{"copyMatching", deleteIt}}},
      {"created, then deleted after the add met it",
       false,
       {{"remove", createIt}, {"add", deleteIt}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    deleteIt();
    if (c.item_before) createIt();
    KeychainManager manager(
        std::make_unique<InterleavedKeychain>(makeSecretServiceKeychain({}), c.steps));
    EXPECT_EQ(manager.store(service), "1 0");
    EXPECT_EQ(copy(service, "k", errSecSuccess), "new");
    EXPECT_EQ(storedItemCount(service, "k"), 1u);
  }
}

TEST_F(SecretServiceKeychainTest, DaemonKeepsNothingPerOperation) {
  const std::string service = "com.tarnwick.daemon-memory";
  KeychainManager manager;
  // Operations that move a secret, the kind that open a transfer session.
  const auto operate = [&](int i) {
    if (i % 3 == 0) {
      ASSERT_EQ(manager.store(service), "1 0");
    } else {
      ASSERT_EQ(manager.retrieve(service), "value");
    }
  };
  const guint32 pid = keyringPid();
  ASSERT_NE(pid, 0u);
  for (int i = 0; i < 100; ++i) operate(i);
  const std::size_t resident_before = residentBytes(pid);
  ASSERT_NE(resident_before, 0u);
  constexpr int kOperations = 3000;
  for (int i = 0; i < kOperations; ++i) operate(i);
  const std::size_t resident_after = residentBytes(pid);
  // A few bytes kept per operation would show as megabytes; allocator noise
  // stays far below this bound.
  EXPECT_LT(resident_after, resident_before + 4 * 1024 * 1024)
      << "the daemon grew from " << resident_before << " to " << resident_after << " bytes over "
      << kOperations << " operations";
  EXPECT_EQ(keyringPid(), pid);
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

#include "biometric_auth/linux/secret_service_keychain.h"

// The D-Bus path functions (item proxies from a search's paths) are marked
// unstable but have not changed since libsecret 0.18.
#define SECRET_API_SUBJECT_TO_CHANGE 1
#include <libsecret/secret.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "biometric_auth/linux/glib_deadline.h"
#include "biometric_auth/linux/private_bus.h"

namespace vk::biometric::linux_backend {
namespace {

using Clock = DeadlineLoop::Clock;

constexpr const char* kDefaultAlias = "default";
constexpr const char* kSecretServiceName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";

struct HashTableUnref {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using HashTablePtr = std::unique_ptr<GHashTable, HashTableUnref>;

struct SecretValueUnref {
  void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;

// D-Bus strings must be valid UTF-8 without NUL; GLib cannot even build a
// message from anything else.
bool isDBusString(std::string_view text) {
  return std::memchr(text.data(), '\0', text.size()) == nullptr &&
         g_utf8_validate_len(text.data(), text.size(), nullptr);
}

// Only a session with a display has a way to show an unlock prompt.
bool sessionCanPrompt() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

void unrefVariant(gpointer value) { g_variant_unref(static_cast<GVariant*>(value)); }

// The attributes that identify an item; with the schema name, only ours.
GVariant* identityAttributes(const std::string& service, const std::string& account,
                             bool with_schema) {
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  if (with_schema) g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSecretSchemaName);
  g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, service.c_str());
  g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, account.c_str());
  return g_variant_builder_end(&attributes);
}

// Whether the error says the object is not there. From a service that has
// left the bus libsecret reports the same, so alone it proves nothing.
bool vanished(const GError* error) {
  return g_error_matches(error, SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT) ||
         // libsecret's own report of an item proxy that found nothing there.
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT);
}

std::string pathOf(SecretItem* item) { return g_dbus_proxy_get_object_path(G_DBUS_PROXY(item)); }

// The process's one proxy of the Secret Service, for one daemon on one
// connection. It carries the transfer session libsecret opens on first use,
// so the process holds one session rather than one per operation:
// gnome-keyring keeps about 8 kB for every session a client ever opened.
// Its signals, and the clean-up of a proxy let go, queue in one main context
// that outlives every operation; each operation first delivers what queued
// there since the last, so nothing accumulates.
class SharedService {
 public:
  // The proxy for the daemon `owner` on `connection`: the one kept, or one
  // made now (by `deadline`) and kept in its place. Null when none could be.
  static GObjectPtr<SecretService> get(GDBusConnection* connection, const std::string& owner,
                                       Clock::time_point deadline) {
    std::unique_lock iterating(iterating_, std::defer_lock);
    if (!iterating.try_lock_until(deadline)) return nullptr;
    GMainContext* shared_context = context();
    deliverQueued(shared_context);
    if (service_ != nullptr && connection_ == connection && owner_ == owner) {
      return GObjectPtr<SecretService>(static_cast<SecretService*>(g_object_ref(service_)));
    }
    GObjectPtr<SecretService> made;
    {
      DeadlineLoop making(shared_context, deadline);
      PendingResult opened;
      secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, making.cancellable(),
                          onAsyncReady, opened.forCall());
      if (making.await(opened)) made.reset(secret_service_open_finish(opened.get(), nullptr));
    }
    if (!made || g_dbus_proxy_get_connection(G_DBUS_PROXY(made.get())) != connection) {
      return nullptr;  // no service, or the bus changed meanwhile
    }
    if (service_ != nullptr) g_object_unref(service_);
    service_ = static_cast<SecretService*>(g_object_ref(made.get()));
    connection_ = connection;
    owner_ = owner;
    deliverQueued(shared_context);  // what letting the old one go queued
    return made;
  }

 private:
  static GMainContext* context() {
    static GMainContext* const shared_context = g_main_context_new();
    return shared_context;
  }

  static void deliverQueued(GMainContext* shared_context) {
    if (!g_main_context_acquire(shared_context)) return;
    while (g_main_context_iteration(shared_context, FALSE)) {
    }
    g_main_context_release(shared_context);
  }

  // Held by whoever iterates the shared context, and while the fields change.
  static inline std::timed_mutex iterating_;
  // One reference, kept for the life of the process.
  static inline SecretService* service_ = nullptr;
  static inline GDBusConnection* connection_ = nullptr;  // the proxy's, for comparison only
  static inline std::string owner_;
};

// The items of one identity a search found; owns their references.
struct ItemList {
  // Items of our schema.
  std::vector<GObjectPtr<SecretItem>> items;
  // Locked items of this identity whose schema the service cannot tell yet
  // (gnome-keyring matches no schema in a keyring it has not unlocked since
  // it started): possibly ours, decided once unlocked.
  std::vector<std::string> undecided;

  SecretItem* firstUnlocked() const {
    for (const auto& item : items) {
      if (!secret_item_get_locked(item.get())) return item.get();
    }
    return nullptr;
  }
  // What stands between the caller and every item that may be ours.
  std::vector<std::string> lockedPaths() const {
    std::vector<std::string> paths = undecided;
    for (const auto& item : items) {
      if (secret_item_get_locked(item.get())) paths.push_back(pathOf(item.get()));
    }
    return paths;
  }
};

// The D-Bus side of one public operation: one service proxy, one private
// main context and one deadline for all its exchanges, and at most one
// unlock prompt with a limit of its own; all released when it ends.
class SecretCall {
 public:
  explicit SecretCall(const SecretServiceLimits& limits) : limits_(limits), loop_(limits.call) {}

  SecretCall(const SecretCall&) = delete;
  SecretCall& operator=(const SecretCall&) = delete;

  // The opening of every keychain call: names D-Bus can carry, a connection
  // (made once per operation), and the identity's items.
  OSStatus open(std::string_view service, std::string_view account, ItemList& found) {
    if (!isDBusString(service) || !isDBusString(account)) return errSecParam;
    if (!connected_) {
      connected_ = true;
      connect_status_ = connect();
    }
    if (connect_status_ != errSecSuccess) return connect_status_;
    return search(std::string(service), std::string(account), found);
  }

  // Every item of our schema with this identity, locked or not, and the
  // undecided ones. Items that vanish while being looked at (a concurrent
  // writer deleted them) are left out rather than failing the search, but
  // only when the service that says so is still there.
  OSStatus search(const std::string& service, const std::string& account, ItemList& found) {
    found = {};
    std::vector<std::string> ours;
    std::vector<std::string> ours_locked;
    std::vector<std::string> any_unlocked;
    std::vector<std::string> any_locked;
    OSStatus status = searchPaths(identityAttributes(service, account, true), ours, ours_locked);
    if (status == errSecSuccess) {
      status = searchPaths(identityAttributes(service, account, false), any_unlocked, any_locked);
    }
    if (status != errSecSuccess) return status;
    ours.insert(ours.end(), ours_locked.begin(), ours_locked.end());
    for (const std::string& path : any_locked) {
      if (std::find(ours.begin(), ours.end(), path) == ours.end()) {
        found.undecided.push_back(path);
      }
    }

    for (const std::string& item_path : ours) {
      PendingResult made;
      secret_item_new_for_dbus_path(service_.get(), item_path.c_str(), SECRET_ITEM_NONE,
                                    loop_.cancellable(), onAsyncReady, made.forCall());
      if (!loop_.await(made)) return errSecNotAvailable;
      GError* item_error = nullptr;
      GObjectPtr<SecretItem> item(secret_item_new_for_dbus_path_finish(made.get(), &item_error));
      if (!item) {
        const OSStatus failed = statusOf(GErrorPtr(item_error));
        if (failed == errSecItemNotFound) continue;
        return failed;
      }
      found.items.push_back(std::move(item));
    }
    return errSecSuccess;
  }

  // Unlocks `locked_paths`, then searches the identity again, so that what
  // was undecided is decided.
  OSStatus unlockAndSearch(const std::vector<std::string>& locked_paths,
                           const std::string& service, const std::string& account,
                           ItemList& found) {
    if (OSStatus status = unlock(locked_paths); status != errSecSuccess) return status;
    return search(service, account, found);
  }

  // Unlocks the given objects: only where a person can answer the prompt,
  // at most once per operation, and only for as long as the prompt limit
  // allows.
  OSStatus unlock(const std::vector<std::string>& locked_paths) {
    if (locked_paths.empty()) return errSecSuccess;
    if (!sessionCanPrompt() || prompted_) return errSecInteractionNotAllowed;
    prompted_ = true;
    std::vector<const gchar*> paths;
    for (const std::string& path : locked_paths) paths.push_back(path.c_str());
    paths.push_back(nullptr);

    GErrorPtr error;
    GVariantPtr asked = callService(kSecretsPath, kServiceInterface, "Unlock",
                                    g_variant_new("(^ao)", paths.data()), "(aoo)", error);
    if (!asked) return statusOf(std::move(error));
    GVariant* unlocked_now = nullptr;
    const gchar* prompt_path = nullptr;
    g_variant_get(asked.get(), "(@ao&o)", &unlocked_now, &prompt_path);
    const gsize unlocked_at_once = g_variant_n_children(unlocked_now);
    g_variant_unref(unlocked_now);
    if (std::string_view(prompt_path) == "/") {
      return unlocked_at_once < locked_paths.size() ? errSecUserCanceled : errSecSuccess;
    }
    const std::string prompt(prompt_path);
    return answerOf(prompt, locked_paths.size());
  }

  // Creates the item in the default collection without looking for others.
  OSStatus create(const std::string& service, const std::string& account, std::string_view data,
                  std::string& created_path) {
    PendingResult aliased;
    secret_service_read_alias_dbus_path(service_.get(), kDefaultAlias, loop_.cancellable(),
                                        onAsyncReady, aliased.forCall());
    if (!loop_.await(aliased)) return errSecNotAvailable;
    GError* raw = nullptr;
    gchar* alias_path = secret_service_read_alias_dbus_path_finish(service_.get(), aliased.get(),
                                                                    &raw);
    if (raw != nullptr) return statusOf(GErrorPtr(raw));
    if (alias_path == nullptr) return errSecNoDefaultKeychain;
    const std::string collection_path(alias_path);
    g_free(alias_path);

    // The label is what keyring managers list; the service names the item.
    HashTablePtr properties(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr,
                                                  unrefVariant));
    g_hash_table_insert(properties.get(), const_cast<char*>("org.freedesktop.Secret.Item.Label"),
                        g_variant_ref_sink(g_variant_new_string(service.c_str())));
    g_hash_table_insert(properties.get(),
                        const_cast<char*>("org.freedesktop.Secret.Item.Attributes"),
                        g_variant_ref_sink(identityAttributes(service, account, true)));
    SecretValuePtr value(secret_value_new(data.data(), static_cast<gssize>(data.size()),
                                          kSecretContentType));
    for (int attempt = 0;; ++attempt) {
      PendingResult made;
      secret_service_create_item_dbus_path(service_.get(), collection_path.c_str(),
                                           properties.get(), value.get(), SECRET_ITEM_CREATE_NONE,
                                           loop_.cancellable(), onAsyncReady, made.forCall());
      if (!loop_.await(made)) return errSecNotAvailable;
      gchar* path = secret_service_create_item_dbus_path_finish(service_.get(), made.get(), &raw);
      if (path != nullptr) {
        created_path.assign(path);
        g_free(path);
        return errSecSuccess;
      }
      GErrorPtr error(raw);
      raw = nullptr;
      // A locked collection: unlock it (if anyone can answer) and try once more.
      if (attempt > 0 || !g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        return statusOf(std::move(error));
      }
      if (OSStatus status = unlock({collection_path}); status != errSecSuccess) return status;
    }
  }

  OSStatus readData(SecretItem* item, std::string& data_out) {
    PendingResult loaded;
    secret_item_load_secret(item, loop_.cancellable(), onAsyncReady, loaded.forCall());
    if (!loop_.await(loaded)) return errSecNotAvailable;
    GError* raw = nullptr;
    if (!secret_item_load_secret_finish(item, loaded.get(), &raw)) return statusOf(GErrorPtr(raw));
    SecretValuePtr value(secret_item_get_secret(item));
    if (!value) return errSecInteractionNotAllowed;  // still locked
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    data_out.assign(bytes, length);
    return errSecSuccess;
  }

  OSStatus writeData(SecretItem* item, std::string_view data) {
    SecretValuePtr value(secret_value_new(data.data(), static_cast<gssize>(data.size()),
                                          kSecretContentType));
    PendingResult written;
    secret_item_set_secret(item, value.get(), loop_.cancellable(), onAsyncReady,
                           written.forCall());
    if (!loop_.await(written)) return errSecNotAvailable;
    GError* raw = nullptr;
    if (!secret_item_set_secret_finish(item, written.get(), &raw)) return statusOf(GErrorPtr(raw));
    return errSecSuccess;
  }

  OSStatus deleteItem(SecretItem* item) {
    PendingResult deleted;
    secret_item_delete(item, loop_.cancellable(), onAsyncReady, deleted.forCall());
    if (!loop_.await(deleted)) return errSecNotAvailable;
    GError* raw = nullptr;
    if (!secret_item_delete_finish(item, deleted.get(), &raw)) {
      const OSStatus status = statusOf(GErrorPtr(raw));
      // Already gone (another writer deleted it): the goal is reached.
      return status == errSecItemNotFound ? errSecSuccess : status;
    }
    return errSecSuccess;
  }

 private:
  // Shows the service's prompt and waits for the person's answer, at most
  // the prompt limit, while the exchanges' deadline stands still. The
  // prompt is never dismissed: gnome-keyring 42 aborts when a prompt it is
  // still showing is dismissed. Past the limit the dialog stays the
  // person's; its late answer reaches no one, as nothing listens any more.
  OSStatus answerOf(const std::string& prompt, std::size_t wanted) {
    PromptAnswer answer;
    const guint completed = g_dbus_connection_signal_subscribe(
        connection_.get(), owner_.c_str(), kPromptInterface, "Completed", prompt.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &SecretCall::onPromptCompleted, &answer, nullptr);
    // libsecret would never end the call when the service goes away meanwhile.
    const guint watch = g_dbus_connection_signal_subscribe(
        connection_.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kSecretServiceName, G_DBUS_SIGNAL_FLAGS_NONE,
        &SecretCall::onOwnerChanged, this, nullptr);
    GErrorPtr error;
    GVariantPtr shown = callService(prompt.c_str(), kPromptInterface, "Prompt",
                                    g_variant_new("(s)", ""), "()", error);
    bool answered = false;
    if (shown) {
      answered = loop_.iterateFor([&] { return answer.completed || service_gone_; },
                                  limits_.prompt);
    }
    g_dbus_connection_signal_unsubscribe(connection_.get(), watch);
    g_dbus_connection_signal_unsubscribe(connection_.get(), completed);

    if (!shown) return statusOf(std::move(error));
    if (service_gone_) return errSecNotAvailable;
    // A prompt nobody answered in time is an interaction that did not happen.
    if (!answered) return errSecInteractionNotAllowed;
    // Dismissed, or not everything unlocked: the person said no.
    if (answer.dismissed || answer.unlocked < wanted) return errSecUserCanceled;
    return errSecSuccess;
  }

  struct PromptAnswer {
    bool completed = false;
    bool dismissed = false;
    std::size_t unlocked = 0;
  };

  static void onPromptCompleted(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                const gchar*, GVariant* parameters, gpointer answer_cell) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)"))) return;
    auto* answer = static_cast<PromptAnswer*>(answer_cell);
    gboolean dismissed = FALSE;
    GVariant* result = nullptr;
    g_variant_get(parameters, "(bv)", &dismissed, &result);
    answer->completed = true;
    answer->dismissed = dismissed != FALSE;
    if (g_variant_is_of_type(result, G_VARIANT_TYPE("ao"))) {
      answer->unlocked = g_variant_n_children(result);
    }
    g_variant_unref(result);
  }

  OSStatus connect() {
    // libsecret's proxies live on GIO's shared session-bus connection. By
    // default that connection terminates the process when the bus goes away;
    // a keychain call must never take the host down with it.
    PendingResult got;
    g_bus_get(G_BUS_TYPE_SESSION, loop_.cancellable(), onAsyncReady, got.forCall());
    if (!loop_.await(got)) return errSecNotAvailable;
    GError* raw = nullptr;
    connection_.reset(g_bus_get_finish(got.get(), &raw));
    if (!connection_) return statusOf(GErrorPtr(raw));
    g_dbus_connection_set_exit_on_close(connection_.get(), FALSE);

    // Every exchange goes to the daemon that owns the name now, so that one
    // that leaves meanwhile is noticed rather than replaced by another.
    owner_ = currentOwner();
    if (owner_.empty()) {
      // Started on demand, as a desktop session normally starts it.
      GErrorPtr error;
      callMethod(connection_.get(), loop_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus", "StartServiceByName",
                 g_variant_new("(su)", kSecretServiceName, 0u), "(u)", error);
      owner_ = currentOwner();
    }
    if (owner_.empty()) return errSecNotAvailable;
    service_ = SharedService::get(connection_.get(), owner_, loop_.deadline());
    return service_ ? errSecSuccess : errSecNotAvailable;
  }

  // The unique name owning the Secret Service's name now, or empty.
  std::string currentOwner() {
    GErrorPtr error;
    GVariantPtr owner = callMethod(connection_.get(), loop_, "org.freedesktop.DBus",
                                   "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                                   g_variant_new("(s)", kSecretServiceName), "(s)", error);
    if (!owner) return {};
    const gchar* name = nullptr;
    g_variant_get(owner.get(), "(&s)", &name);
    return name;
  }

  // Whether the daemon this operation talks to still owns the name: only
  // then does its "no such object" mean the object is gone. A daemon that
  // left answers nothing, and its items may well still exist.
  bool serviceStillThere() {
    return !g_cancellable_is_cancelled(loop_.cancellable()) && currentOwner() == owner_;
  }

  GVariantPtr callService(const char* path, const char* interface, const char* method,
                          GVariant* args, const char* reply_type, GErrorPtr& error) {
    return callMethod(connection_.get(), loop_, owner_.c_str(), path, interface, method, args,
                      reply_type, error, G_DBUS_CALL_FLAGS_NO_AUTO_START);
  }

  // The unlocked and locked items matching `attributes` (consumed).
  OSStatus searchPaths(GVariant* attributes, std::vector<std::string>& unlocked,
                       std::vector<std::string>& locked) {
    PendingResult searched;
    g_dbus_proxy_call(G_DBUS_PROXY(service_.get()), "SearchItems",
                      g_variant_new_tuple(&attributes, 1), G_DBUS_CALL_FLAGS_NONE, G_MAXINT,
                      loop_.cancellable(), onAsyncReady, searched.forCall());
    if (!loop_.await(searched)) return errSecNotAvailable;
    GError* raw = nullptr;
    GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(service_.get()), searched.get(), &raw);
    if (reply == nullptr) return statusOf(GErrorPtr(raw));
    GVariantIter* unlocked_iter = nullptr;
    GVariantIter* locked_iter = nullptr;
    g_variant_get(reply, "(aoao)", &unlocked_iter, &locked_iter);
    const gchar* path = nullptr;
    while (g_variant_iter_next(unlocked_iter, "&o", &path)) unlocked.emplace_back(path);
    while (g_variant_iter_next(locked_iter, "&o", &path)) locked.emplace_back(path);
    g_variant_iter_free(unlocked_iter);
    g_variant_iter_free(locked_iter);
    g_variant_unref(reply);
    return errSecSuccess;
  }

  static void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                             const gchar*, GVariant* parameters, gpointer self) {
    const gchar* new_owner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &new_owner);
    auto* call = static_cast<SecretCall*>(self);
    if (call->owner_ != new_owner) call->service_gone_ = true;
  }

  OSStatus statusOf(GErrorPtr error) {
    // Cancelled at a deadline: the service is frozen or too slow.
    if (g_cancellable_is_cancelled(loop_.cancellable())) return errSecNotAvailable;
    if (error && g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
      return errSecInteractionNotAllowed;
    }
    if (error && vanished(error.get())) {
      return serviceStillThere() ? errSecItemNotFound : errSecNotAvailable;
    }
    return errSecNotAvailable;
  }

  SecretServiceLimits limits_;
  DeadlineLoop loop_;
  GObjectPtr<GDBusConnection> connection_;
  GObjectPtr<SecretService> service_;
  std::string owner_;  // the daemon's unique name
  bool connected_ = false;
  OSStatus connect_status_ = errSecNotAvailable;
  bool prompted_ = false;
  bool service_gone_ = false;
};

// Orders items of one identity the same way for every observer: the oldest
// wins, ties broken by object path (length first, so ".../9" < ".../10").
bool precedes(SecretItem* a, SecretItem* b) {
  const guint64 created_a = secret_item_get_created(a);
  const guint64 created_b = secret_item_get_created(b);
  if (created_a != created_b) return created_a < created_b;
  const std::string path_a = pathOf(a);
  const std::string path_b = pathOf(b);
  if (path_a.size() != path_b.size()) return path_a.size() < path_b.size();
  return path_a < path_b;
}

// The public operation running on this thread, if any: the calls a keychain
// makes inside it share one SecretCall.
struct Operation {
  explicit Operation(const void* owner) : keychain(owner) {}
  const void* keychain;  // whose calls share it
  int depth = 0;
  std::unique_ptr<SecretCall> call;  // made by the first call
};
thread_local std::unique_ptr<Operation> current_operation;

class SecretServiceKeychain final : public KeychainItems {
 public:
  explicit SecretServiceKeychain(SecretServiceLimits limits) : limits_(limits) {}

  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    return withCall([&](SecretCall& call) { return add(call, service, account, data); });
  }

  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    return withCall([&](SecretCall& call) {
      return changeEach(call, service, account, [&call, data](SecretItem* item) {
        return call.writeData(item, data);
      });
    });
  }

  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    return withCall([&](SecretCall& call) {
      ItemList found;
      if (OSStatus status = call.open(service, account, found); status != errSecSuccess) {
        return status;
      }
      // Prefer an item that needs no unlocking; else unlocking one of ours
      // is enough, or, when none is known yet, the undecided ones.
      if (found.firstUnlocked() == nullptr) {
        std::vector<std::string> locked = found.undecided;
        if (!found.items.empty()) locked = {pathOf(found.items.front().get())};
        if (locked.empty()) return errSecItemNotFound;
        if (OSStatus status = call.unlockAndSearch(locked, std::string(service),
                                                   std::string(account), found);
            status != errSecSuccess) {
          return status;
        }
      }
      SecretItem* chosen = found.firstUnlocked();
      if (chosen == nullptr) {
        return found.items.empty() ? errSecItemNotFound : errSecInteractionNotAllowed;
      }
      return call.readData(chosen, data_out);
    });
  }

  OSStatus remove(std::string_view service, std::string_view account) override {
    return withCall([&](SecretCall& call) {
      return changeEach(call, service, account,
                        [&call](SecretItem* item) { return call.deleteItem(item); });
    });
  }

  void beginOperation() override {
    if (!current_operation) current_operation = std::make_unique<Operation>(this);
    ++current_operation->depth;
  }

  void endOperation() override {
    if (current_operation && --current_operation->depth == 0) current_operation.reset();
  }

  // New items can only go to the default collection: deleting an item that
  // lies elsewhere and adding it afresh would move it, and lose it when the
  // default collection refuses the add.
  bool replacesInPlace() const override { return true; }

 private:
  // Runs `body` on the SecretCall of this thread's operation, or on a fresh one.
  template <typename Body>
  OSStatus withCall(Body body) {
    if (current_operation && current_operation->keychain == this) {
      if (!current_operation->call) current_operation->call = std::make_unique<SecretCall>(limits_);
      return body(*current_operation->call);
    }
    SecretCall call(limits_);
    return body(call);
  }

  static OSStatus add(SecretCall& call, std::string_view service, std::string_view account,
                      std::string_view data) {
    ItemList found;
    if (OSStatus status = call.open(service, account, found); status != errSecSuccess) {
      return status;
    }
    const std::string service_text(service);
    const std::string account_text(account);
    // Locked items count too, so that no duplicate appears behind a lock; an
    // undecided one is decided first.
    if (found.items.empty() && !found.undecided.empty()) {
      if (OSStatus status =
              call.unlockAndSearch(found.undecided, service_text, account_text, found);
          status != errSecSuccess) {
        return status;
      }
    }
    if (!found.items.empty()) return errSecDuplicateItem;

    std::string our_path;
    if (OSStatus status = call.create(service_text, account_text, data, our_path);
        status != errSecSuccess) {
      return status;
    }
    // The Secret Service cannot refuse a duplicate: look again, and when a
    // concurrent writer's item of the same identity precedes ours, withdraw.
    if (OSStatus status = call.search(service_text, account_text, found); status != errSecSuccess) {
      return status;
    }
    SecretItem* ours = nullptr;
    for (const auto& item : found.items) {
      if (our_path == pathOf(item.get())) ours = item.get();
    }
    if (ours == nullptr) return errSecSuccess;  // already removed by someone else
    for (const auto& item : found.items) {
      if (item.get() != ours && precedes(item.get(), ours)) {
        call.deleteItem(ours);
        return errSecDuplicateItem;
      }
    }
    return errSecSuccess;
  }

  // Unlocks every item that may be of the identity, then applies `change` to
  // each of ours in turn, stopping at the first failure.
  template <typename Change>
  static OSStatus changeEach(SecretCall& call, std::string_view service, std::string_view account,
                             Change change) {
    ItemList found;
    if (OSStatus status = call.open(service, account, found); status != errSecSuccess) {
      return status;
    }
    if (const std::vector<std::string> locked = found.lockedPaths(); !locked.empty()) {
      if (OSStatus status =
              call.unlockAndSearch(locked, std::string(service), std::string(account), found);
          status != errSecSuccess) {
        return status;
      }
    }
    if (found.items.empty()) return errSecItemNotFound;
    for (const auto& item : found.items) {
      if (OSStatus status = change(item.get()); status != errSecSuccess) return status;
    }
    return errSecSuccess;
  }

  SecretServiceLimits limits_;
};

}  // namespace

std::unique_ptr<KeychainItems> makeSecretServiceKeychain(SecretServiceLimits limits) {
  return std::make_unique<SecretServiceKeychain>(limits);
}

}  // namespace vk::biometric::linux_backend

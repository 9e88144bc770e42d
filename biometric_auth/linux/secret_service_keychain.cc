#include "biometric_auth/linux/secret_service_keychain.h"

// The D-Bus path functions (item proxies from a search's paths) are marked
// unstable but have not changed since libsecret 0.18.
#define SECRET_API_SUBJECT_TO_CHANGE 1
#include <libsecret/secret.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "biometric_auth/linux/glib_deadline.h"

namespace vk::biometric::linux_backend {
namespace {

constexpr const char* kDefaultAlias = "default";

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

// The attributes that identify an item of ours, schema name included.
GVariant* identityAttributes(const std::string& service, const std::string& account) {
  GVariantBuilder attributes;
  g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
  g_variant_builder_add(&attributes, "{ss}", "xdg:schema", kSecretSchemaName);
  g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, service.c_str());
  g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, account.c_str());
  return g_variant_builder_end(&attributes);
}

// Whether the error says the object no longer exists.
bool vanished(const GError* error) {
  return g_error_matches(error, SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT) ||
         // libsecret's own report of an item proxy that found nothing there.
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT);
}

// Items found by one search; owns their references.
struct ItemList {
  std::vector<GObjectPtr<SecretItem>> items;
};

// One keychain call: its own service proxy, main context and deadline, all
// released when the call ends.
class SecretCall {
 public:
  explicit SecretCall(const SecretServiceLimits& limits)
      : limits_(limits), loop_(limits.call) {}

  SecretCall(const SecretCall&) = delete;
  SecretCall& operator=(const SecretCall&) = delete;

  OSStatus connect() {
    // libsecret's proxies live on GIO's shared session-bus connection. By
    // default that connection terminates the process when the bus goes away;
    // a keychain call must never take the host down with it.
    PendingResult got;
    g_bus_get(G_BUS_TYPE_SESSION, loop_.cancellable(), onAsyncReady, &got);
    loop_.await(got);
    GError* raw = nullptr;
    connection_.reset(g_bus_get_finish(got.get(), &raw));
    if (!connection_) return statusOf(GErrorPtr(raw));
    g_dbus_connection_set_exit_on_close(connection_.get(), FALSE);

    // A service proxy of our own (not libsecret's cached one), so its signal
    // subscriptions live and die with this call's private context.
    PendingResult opened;
    secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, loop_.cancellable(),
                        onAsyncReady, &opened);
    loop_.await(opened);
    service_.reset(secret_service_open_finish(opened.get(), &raw));
    if (!service_) return statusOf(GErrorPtr(raw));
    return errSecSuccess;
  }

  // The opening of every operation: names D-Bus can carry, a connection, and
  // the identity's items.
  OSStatus open(std::string_view service, std::string_view account, ItemList& found) {
    if (!isDBusString(service) || !isDBusString(account)) return errSecParam;
    if (OSStatus status = connect(); status != errSecSuccess) return status;
    return search(std::string(service), std::string(account), found);
  }

  // Every item of our schema with this identity, locked or not. Items that
  // vanish while being looked at (a concurrent writer deleted them) are left
  // out rather than failing the search.
  OSStatus search(const std::string& service, const std::string& account, ItemList& found) {
    found.items.clear();
    GVariant* query[] = {identityAttributes(service, account)};
    PendingResult searched;
    g_dbus_proxy_call(G_DBUS_PROXY(service_.get()), "SearchItems", g_variant_new_tuple(query, 1),
                      G_DBUS_CALL_FLAGS_NONE, G_MAXINT,
                      loop_.cancellable(), onAsyncReady, &searched);
    loop_.await(searched);
    GError* raw = nullptr;
    GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(service_.get()), searched.get(), &raw);
    if (reply == nullptr) return statusOf(GErrorPtr(raw));
    GVariantIter* unlocked = nullptr;
    GVariantIter* locked = nullptr;
    g_variant_get(reply, "(aoao)", &unlocked, &locked);
    std::vector<std::string> paths;
    const gchar* path = nullptr;
    while (g_variant_iter_next(unlocked, "&o", &path)) paths.emplace_back(path);
    while (g_variant_iter_next(locked, "&o", &path)) paths.emplace_back(path);
    g_variant_iter_free(unlocked);
    g_variant_iter_free(locked);
    g_variant_unref(reply);

    for (const std::string& item_path : paths) {
      PendingResult made;
      secret_item_new_for_dbus_path(service_.get(), item_path.c_str(), SECRET_ITEM_NONE,
                                    loop_.cancellable(), onAsyncReady, &made);
      loop_.await(made);
      GError* item_error = nullptr;
      GObjectPtr<SecretItem> item(secret_item_new_for_dbus_path_finish(made.get(), &item_error));
      if (!item) {
        GErrorPtr error(item_error);
        if (vanished(error.get())) continue;
        return statusOf(std::move(error));
      }
      found.items.push_back(std::move(item));
    }
    return errSecSuccess;
  }

  // Unlocks the given objects: only where a person can answer the prompt,
  // and only for as long as the prompt limit allows.
  OSStatus unlock(const std::vector<std::string>& locked_paths) {
    if (locked_paths.empty()) return errSecSuccess;
    if (!sessionCanPrompt()) return errSecInteractionNotAllowed;
    std::vector<const gchar*> paths;
    for (const std::string& path : locked_paths) paths.push_back(path.c_str());
    paths.push_back(nullptr);
    loop_.restart(limits_.prompt);
    prompting_ = true;
    PendingResult unlocked;
    secret_service_unlock_dbus_paths(service_.get(), paths.data(), loop_.cancellable(),
                                     onAsyncReady, &unlocked);
    loop_.await(unlocked);
    GError* raw = nullptr;
    const gint count =
        secret_service_unlock_dbus_paths_finish(service_.get(), unlocked.get(), nullptr, &raw);
    if (raw != nullptr) return statusOf(GErrorPtr(raw));
    prompting_ = false;
    loop_.restart(limits_.call);
    // Not everything unlocked and no error: the person dismissed the prompt.
    if (count < static_cast<gint>(locked_paths.size())) return errSecUserCanceled;
    return errSecSuccess;
  }

  OSStatus unlockItems(const ItemList& found) {
    std::vector<std::string> locked;
    for (const auto& item : found.items) {
      if (secret_item_get_locked(item.get())) {
        locked.emplace_back(g_dbus_proxy_get_object_path(G_DBUS_PROXY(item.get())));
      }
    }
    return unlock(locked);
  }

  // Creates the item in the default collection without looking for others.
  OSStatus create(const std::string& service, const std::string& account, std::string_view data,
                  std::string& created_path) {
    PendingResult aliased;
    secret_service_read_alias_dbus_path(service_.get(), kDefaultAlias, loop_.cancellable(),
                                        onAsyncReady, &aliased);
    loop_.await(aliased);
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
                        g_variant_ref_sink(identityAttributes(service, account)));
    SecretValuePtr value(secret_value_new(data.data(), static_cast<gssize>(data.size()),
                                          kSecretContentType));
    for (int attempt = 0;; ++attempt) {
      PendingResult made;
      secret_service_create_item_dbus_path(service_.get(), collection_path.c_str(),
                                           properties.get(), value.get(), SECRET_ITEM_CREATE_NONE,
                                           loop_.cancellable(), onAsyncReady, &made);
      loop_.await(made);
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
    secret_item_load_secret(item, loop_.cancellable(), onAsyncReady, &loaded);
    loop_.await(loaded);
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
    secret_item_set_secret(item, value.get(), loop_.cancellable(), onAsyncReady, &written);
    loop_.await(written);
    GError* raw = nullptr;
    if (!secret_item_set_secret_finish(item, written.get(), &raw)) return statusOf(GErrorPtr(raw));
    return errSecSuccess;
  }

  OSStatus deleteItem(SecretItem* item) {
    PendingResult deleted;
    secret_item_delete(item, loop_.cancellable(), onAsyncReady, &deleted);
    loop_.await(deleted);
    GError* raw = nullptr;
    if (!secret_item_delete_finish(item, deleted.get(), &raw)) {
      GErrorPtr error(raw);
      // Already gone (another writer deleted it): the goal is reached.
      if (vanished(error.get())) return errSecSuccess;
      return statusOf(std::move(error));
    }
    return errSecSuccess;
  }

 private:
  OSStatus statusOf(GErrorPtr error) const {
    if (loop_.expired()) {
      // A prompt nobody answered in time is an interaction that did not happen.
      return prompting_ ? errSecInteractionNotAllowed : errSecNotAvailable;
    }
    if (error && g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
      return errSecInteractionNotAllowed;
    }
    if (error && vanished(error.get())) return errSecItemNotFound;
    return errSecNotAvailable;
  }

  SecretServiceLimits limits_;
  DeadlineLoop loop_;
  GObjectPtr<GDBusConnection> connection_;
  GObjectPtr<SecretService> service_;
  bool prompting_ = false;
};

// Orders items of one identity the same way for every observer: the oldest
// wins, ties broken by object path (length first, so ".../9" < ".../10").
bool precedes(SecretItem* a, SecretItem* b) {
  const guint64 created_a = secret_item_get_created(a);
  const guint64 created_b = secret_item_get_created(b);
  if (created_a != created_b) return created_a < created_b;
  const std::string_view path_a = g_dbus_proxy_get_object_path(G_DBUS_PROXY(a));
  const std::string_view path_b = g_dbus_proxy_get_object_path(G_DBUS_PROXY(b));
  if (path_a.size() != path_b.size()) return path_a.size() < path_b.size();
  return path_a < path_b;
}

class SecretServiceKeychain final : public KeychainItems {
 public:
  explicit SecretServiceKeychain(SecretServiceLimits limits) : limits_(limits) {}

  OSStatus add(std::string_view service, std::string_view account,
               std::string_view data) override {
    SecretCall call(limits_);
    ItemList found;
    if (OSStatus status = call.open(service, account, found); status != errSecSuccess) return status;
    if (!found.items.empty()) return errSecDuplicateItem;
    const std::string service_text(service);
    const std::string account_text(account);

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
      if (our_path == g_dbus_proxy_get_object_path(G_DBUS_PROXY(item.get()))) ours = item.get();
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

  OSStatus update(std::string_view service, std::string_view account,
                  std::string_view data) override {
    return changeEach(service, account, [data](SecretCall& call, SecretItem* item) {
      return call.writeData(item, data);
    });
  }

  OSStatus copyMatching(std::string_view service, std::string_view account,
                        std::string& data_out) override {
    SecretCall call(limits_);
    ItemList found;
    if (OSStatus status = call.open(service, account, found); status != errSecSuccess) return status;
    if (found.items.empty()) return errSecItemNotFound;
    // Prefer an item that needs no unlocking.
    SecretItem* chosen = found.items.front().get();
    for (const auto& item : found.items) {
      if (!secret_item_get_locked(item.get())) {
        chosen = item.get();
        break;
      }
    }
    if (secret_item_get_locked(chosen)) {
      const std::string path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(chosen));
      if (OSStatus status = call.unlock({path}); status != errSecSuccess) return status;
    }
    return call.readData(chosen, data_out);
  }

  OSStatus remove(std::string_view service, std::string_view account) override {
    return changeEach(service, account, [](SecretCall& call, SecretItem* item) {
      return call.deleteItem(item);
    });
  }

 private:
  // Unlocks every item of the identity, then applies `change` to each in
  // turn, stopping at the first failure.
  template <typename Change>
  OSStatus changeEach(std::string_view service, std::string_view account, Change change) {
    SecretCall call(limits_);
    ItemList found;
    if (OSStatus status = call.open(service, account, found); status != errSecSuccess) return status;
    if (found.items.empty()) return errSecItemNotFound;
    if (OSStatus status = call.unlockItems(found); status != errSecSuccess) return status;
    for (const auto& item : found.items) {
      if (OSStatus status = change(call, item.get()); status != errSecSuccess) return status;
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

namespace vk::biometric {

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  return linux_backend::makeSecretServiceKeychain({});
}

}  // namespace vk::biometric

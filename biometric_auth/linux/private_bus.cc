#include "biometric_auth/linux/private_bus.h"

#include <cstring>

namespace vk::biometric::linux_backend {

namespace {
constexpr const char* kBusName = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kBusInterface = "org.freedesktop.DBus";

// Marks a connection whose "closed" notice was delivered.
constexpr const char* kClosedNoticeKey = "vk-closed-notice";
// Closing is local, so its notice follows at once even when the peer is
// frozen or the deadline passed; this only bounds the wait for it.
constexpr std::chrono::milliseconds kClosedNoticeLimit{1'000};

void onClosed(GDBusConnection* connection, gboolean /*remote_peer_vanished*/, GError* /*error*/,
              gpointer /*unused*/) {
  g_object_set_data(G_OBJECT(connection), kClosedNoticeKey, GINT_TO_POINTER(1));
}

bool closedNoticeDelivered(GDBusConnection* connection) {
  return g_object_get_data(G_OBJECT(connection), kClosedNoticeKey) != nullptr;
}

// The error of a call that was still running when its deadline passed.
GError* deadlinePassed() {
  return g_error_new_literal(G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "the deadline passed");
}
}  // namespace

std::string busAddress(GBusType bus, DeadlineLoop& loop, GErrorPtr& error) {
  GError* raw = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(bus, loop.cancellable(), &raw);
  if (address == nullptr) {
    error.reset(raw);
    return {};
  }
  std::string result(address);
  g_free(address);
  return result;
}

GObjectPtr<GDBusConnection> connectBus(const std::string& address, DeadlineLoop& loop,
                                       GErrorPtr& error) {
  PendingResult connected;
  g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, loop.cancellable(), onAsyncReady, connected.forCall());
  if (!loop.await(connected)) {
    error.reset(deadlinePassed());
    return nullptr;
  }
  GError* raw = nullptr;
  GObjectPtr<GDBusConnection> connection(
      g_dbus_connection_new_for_address_finish(connected.get(), &raw));
  if (!connection) {
    error.reset(raw);
    return connection;
  }
  g_signal_connect(connection.get(), "closed", G_CALLBACK(onClosed), nullptr);
  return connection;
}

void closeBus(GDBusConnection* connection, DeadlineLoop& loop) {
  if (connection == nullptr) return;
  PendingResult closed;
  const bool closing = !g_dbus_connection_is_closed(connection);
  // Closing is local (the stream is shut), so it needs no cancellable.
  if (closing) g_dbus_connection_close(connection, nullptr, onAsyncReady, closed.forCall());
  // The close's own result is queued in this context too.
  loop.iterateFor([&] { return closedNoticeDelivered(connection) && (!closing || closed.done()); },
                  kClosedNoticeLimit);
  if (closed.done()) g_dbus_connection_close_finish(connection, closed.get(), nullptr);
}

GVariantPtr callMethod(GDBusConnection* connection, DeadlineLoop& loop, const char* destination,
                       const char* path, const char* interface, const char* method,
                       GVariant* args, const char* reply_type, GErrorPtr& error,
                       GDBusCallFlags flags) {
  PendingResult replied;
  g_dbus_connection_call(connection, destination, path, interface, method, args,
                         reply_type != nullptr ? G_VARIANT_TYPE(reply_type) : nullptr, flags,
                         G_MAXINT,  // the loop's deadline bounds the call
                         loop.cancellable(), onAsyncReady, replied.forCall());
  if (!loop.await(replied)) {
    error.reset(deadlinePassed());
    return nullptr;
  }
  GError* raw = nullptr;
  GVariantPtr reply(g_dbus_connection_call_finish(connection, replied.get(), &raw));
  if (!reply) error.reset(raw);
  return reply;
}

bool nameHasOwner(GDBusConnection* connection, DeadlineLoop& loop, const char* name) {
  GErrorPtr error;
  GVariantPtr owned = callMethod(connection, loop, kBusName, kBusPath, kBusInterface,
                                 "NameHasOwner", g_variant_new("(s)", name), "(b)", error);
  if (!owned) return false;
  gboolean has_owner = FALSE;
  g_variant_get(owned.get(), "(b)", &has_owner);
  return has_owner != FALSE;
}

bool nameIsReachable(GDBusConnection* connection, DeadlineLoop& loop, const char* name) {
  if (nameHasOwner(connection, loop, name)) return true;
  GErrorPtr error;
  GVariantPtr names = callMethod(connection, loop, kBusName, kBusPath, kBusInterface,
                                 "ListActivatableNames", nullptr, "(as)", error);
  if (!names) return false;
  GVariantIter* iter = nullptr;
  g_variant_get(names.get(), "(as)", &iter);
  bool found = false;
  const gchar* candidate = nullptr;
  while (!found && g_variant_iter_next(iter, "&s", &candidate)) {
    found = std::strcmp(candidate, name) == 0;
  }
  g_variant_iter_free(iter);
  return found;
}

std::string remoteErrorName(const GError* error) {
  if (error == nullptr || !g_dbus_error_is_remote_error(error)) return {};
  gchar* name = g_dbus_error_get_remote_error(error);
  std::string result(name != nullptr ? name : "");
  g_free(name);
  return result;
}

}  // namespace vk::biometric::linux_backend

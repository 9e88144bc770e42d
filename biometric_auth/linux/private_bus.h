// Private D-Bus connections and method calls bounded by a DeadlineLoop. A
// private connection (not GIO's shared bus singleton) never terminates the
// process when the bus goes away, and what it owns on the bus (Secret
// Service sessions, fprintd claims) ends when it is closed.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

#include "biometric_auth/linux/glib_deadline.h"

namespace vk::biometric::linux_backend {

// Owns a GVariant reference.
struct GVariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

// The address of a bus, or empty (with `error` set) when it has none.
std::string busAddress(GBusType bus, DeadlineLoop& loop, GErrorPtr& error);

// Opens a private message-bus connection; null (with `error` set) on failure.
GObjectPtr<GDBusConnection> connectBus(const std::string& address, DeadlineLoop& loop,
                                       GErrorPtr& error);

// Closes the connection, dropping everything it holds on the bus, and takes
// in its last notice: GDBus queues that in the main context the connection
// was opened in, holding the connection, which holds the context, so
// `loop` must be the one connectBus was given. Left in a context nobody
// iterates again, both would stay for good, with the context's descriptor.
void closeBus(GDBusConnection* connection, DeadlineLoop& loop);

// Calls a method and waits for the reply; null (with `error` set) on failure.
// `args` may be null and is consumed when floating.
GVariantPtr callMethod(GDBusConnection* connection, DeadlineLoop& loop, const char* destination,
                       const char* path, const char* interface, const char* method,
                       GVariant* args, const char* reply_type, GErrorPtr& error,
                       GDBusCallFlags flags = G_DBUS_CALL_FLAGS_NONE);

// Whether `name` is owned now or can be started by activation; asks the bus
// only, so it never starts anything.
bool nameIsReachable(GDBusConnection* connection, DeadlineLoop& loop, const char* name);

// Whether `name` is owned now (never starts anything).
bool nameHasOwner(GDBusConnection* connection, DeadlineLoop& loop, const char* name);

// The D-Bus error name of a remote error, or empty.
std::string remoteErrorName(const GError* error);

}  // namespace vk::biometric::linux_backend

#include "biometric_auth/linux/testing/desktop_session_probe.h"

#include <gio/gio.h>

#include <cstdlib>

namespace vk::biometric::linux_backend::testing {

std::string privateSessionUnavailableReason(const char* required_bus_name) {
  // Tests write to the keyring and claim sensors: never do that in a real session.
  const char* marker = std::getenv("VK_PRIVATE_DESKTOP_SESSION");
  if (marker == nullptr || std::string(marker) != "1") {
    return "not inside tests/with_desktop_session.sh";
  }
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    std::string reason = std::string("no session bus: ") + error->message;
    g_error_free(error);
    return reason;
  }
  if (required_bus_name == nullptr) {
    g_object_unref(bus);
    return {};
  }
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", required_bus_name), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  g_object_unref(bus);
  if (reply == nullptr) {
    std::string reason = std::string("session bus does not answer: ") + error->message;
    g_error_free(error);
    return reason;
  }
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  if (!owned) return std::string(required_bus_name) + " is not on the session bus";
  return {};
}

}  // namespace vk::biometric::linux_backend::testing

#include "biometric_auth/linux/testing/dbus_mock_service.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

extern char** environ;

namespace vk::biometric::linux_backend::testing {

std::string sessionBusAddress() {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  std::string result = address != nullptr ? address : "";
  g_free(address);
  return result;
}

bool sessionNameOwned(const char* name) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
      5000, nullptr, nullptr);
  g_object_unref(bus);
  if (reply == nullptr) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned != FALSE;
}

MockService::MockService(const std::string& template_path, const char* bus_name) {
  // The session script gives every test a private HOME; keep logs there.
  const char* home = std::getenv("HOME");
  const std::string log =
      std::string(home != nullptr ? home : ".") + "/dbusmock-" + bus_name + ".log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<std::string> args = {kSystemPython, "-m", "dbusmock", "--session", "-t",
                                   template_path};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, kSystemPython, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; pid_ > 0 && i < 200 && !sessionNameOwned(bus_name); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ready_ = pid_ > 0 && sessionNameOwned(bus_name);
}

MockService::~MockService() { stop(); }

void MockService::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGCONT);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

GVariant* callSessionMethod(const char* name, const char* path, const char* interface,
                            const char* method, GVariant* args, const char* reply_type) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
    return nullptr;
  }
  GVariant* reply = g_dbus_connection_call_sync(
      bus, name, path, interface, method, args,
      reply_type != nullptr ? G_VARIANT_TYPE(reply_type) : nullptr, G_DBUS_CALL_FLAGS_NONE, 10000,
      nullptr, &error);
  g_object_unref(bus);
  if (reply == nullptr) {
    ADD_FAILURE() << method << ": " << error->message;
    g_error_free(error);
  }
  return reply;
}

int takeIntReply(GVariant* reply) {
  if (reply == nullptr) return -1;
  gint32 number = 0;
  g_variant_get(reply, "(i)", &number);
  g_variant_unref(reply);
  return number;
}

}  // namespace vk::biometric::linux_backend::testing

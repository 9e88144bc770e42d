// Test support: python3-dbusmock services on the private session bus of
// tests/with_desktop_session.sh, and calls to their mock interfaces.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <string>

namespace vk::biometric::linux_backend::testing {

// The interpreter that has the dbus module (another python3 on PATH may not).
inline constexpr const char* kSystemPython = "/usr/bin/python3";
inline constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";

// The session bus's address, or empty.
std::string sessionBusAddress();

// Whether `name` has an owner on the session bus (never starts anything).
bool sessionNameOwned(const char* name);

// A dbusmock process serving `template_path` under `bus_name` on the session
// bus; stopped (and resumed first, if a test froze it) when dropped.
class MockService {
 public:
  MockService(const std::string& template_path, const char* bus_name);
  MockService(const MockService&) = delete;
  MockService& operator=(const MockService&) = delete;
  ~MockService();

  bool ready() const { return ready_; }
  pid_t pid() const { return pid_; }
  void stop();

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Calls a method on the session bus and returns its reply, or null after
// recording a test failure.
GVariant* callSessionMethod(const char* name, const char* path, const char* interface,
                            const char* method, GVariant* args, const char* reply_type = nullptr);

// The number in an "(i)" reply, which it releases; -1 for no reply.
int takeIntReply(GVariant* reply);

}  // namespace vk::biometric::linux_backend::testing

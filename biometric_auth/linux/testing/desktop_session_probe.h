// Test support: whether the test runs inside the private desktop session of
// tests/with_desktop_session.sh, never the developer's own.
#pragma once

#include <string>

namespace vk::biometric::linux_backend::testing {

// Empty when the private session is usable, otherwise why the test skips.
std::string privateSessionUnavailableReason(const char* required_bus_name);

}  // namespace vk::biometric::linux_backend::testing

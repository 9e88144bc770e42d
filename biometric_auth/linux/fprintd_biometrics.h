// Biometric contexts backed by the fprintd fingerprint service
// (net.reactivated.Fprint) on D-Bus.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "biometric_auth/biometric_platform.h"

namespace vk::biometric::linux_backend {

// Where fprintd is and how long each step may take.
struct FprintdSettings {
  // Bus fprintd is on; unset means the system bus (tests pass a private bus).
  std::optional<std::string> fprintd_bus_address;
  // Bus of the desktop notification that shows the reason; unset: session bus.
  std::optional<std::string> notification_bus_address;
  // All D-Bus calls made through one context before an evaluation (the
  // availability check, or authenticate's policy check), activation included.
  std::chrono::milliseconds call_limit{5'000};
  // A whole evaluation, from evaluatePolicy to the sensor's release: the
  // manager's wait for the reply, which starts when evaluatePolicy returns.
  std::chrono::milliseconds verify_limit{60'000};
  // Showing the notification; releasing the sensor and closing the
  // notification at the end (scanning stops this much, at most half the
  // evaluation, before its end).
  std::chrono::milliseconds cleanup_limit{2'000};
  // Non-matching fingers accepted before the evaluation fails.
  int attempts = 3;
};

// The fprintd platform with explicit settings.
std::unique_ptr<BiometricPlatform> makeFprintdPlatform(FprintdSettings settings);

}  // namespace vk::biometric::linux_backend

// The Linux backends as a module of their own. The host opens it on the
// first bridge call, so that starting the host (for every browser message)
// does not load libsecret, GIO, GLib and what they pull in.
#pragma once

#include <string_view>

#include "biometric_auth/biometric_platform.h"
#include "biometric_auth/keychain_items.h"

namespace vk::biometric::linux_backend {

// The module's exports, looked up by name. The release tag guards against a
// module left over from another build, whose objects would not match ours.
inline constexpr const char* kBackendsReleaseSymbol = "vk_desktop_backends_release";
inline constexpr const char* kMakePlatformSymbol = "vk_desktop_backends_make_platform";
inline constexpr const char* kMakeKeychainSymbol = "vk_desktop_backends_make_keychain";

// The release both sides must have been built for.
inline constexpr std::string_view kBackendsRelease = VK_DESKTOP_BACKENDS_RELEASE;

// The factories; each object returned is owned by the caller.
using MakePlatformFunction = BiometricPlatform* (*)();
using MakeKeychainFunction = KeychainItems* (*)();

}  // namespace vk::biometric::linux_backend

// Deleting every copy of an item where one delete call removes one match:
// the macOS file-based keychain, where each keychain of the search list may
// hold an item of the same identity.
#pragma once

#include <chrono>
#include <functional>

#include "biometric_auth/keychain_items.h"

namespace vk::biometric {

// More copies than a search list holds: a keychain that keeps answering
// success is not believed any further.
inline constexpr int kMaxDeletePasses = 16;

// Calls `deleteOnce` until it answers errSecItemNotFound, at most
// kMaxDeletePasses times; after the first, no pass starts past `deadline`.
// errSecSuccess when a pass deleted and the last found nothing left;
// errSecItemNotFound when the first found nothing; the status of a failing
// pass; errSecDuplicateItem when passes or time ran out with copies maybe left.
OSStatus deleteEveryCopy(const std::function<OSStatus()>& deleteOnce,
                         std::chrono::steady_clock::time_point deadline);

}  // namespace vk::biometric

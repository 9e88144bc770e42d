#include "biometric_auth/delete_every_copy.h"

namespace vk::biometric {

OSStatus deleteEveryCopy(const std::function<OSStatus()>& deleteOnce,
                         std::chrono::steady_clock::time_point deadline) {
  // The first pass is the plain delete, whatever the time.
  OSStatus status = deleteOnce();
  if (status != errSecSuccess) return status;
  for (int pass = 1; pass < kMaxDeletePasses; ++pass) {
    if (std::chrono::steady_clock::now() >= deadline) break;
    status = deleteOnce();
    if (status == errSecItemNotFound) return errSecSuccess;
    if (status != errSecSuccess) return status;
  }
  return errSecDuplicateItem;
}

}  // namespace vk::biometric

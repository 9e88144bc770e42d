// The C boundary: C arguments in, the shared manager, int32 results out.
#include "biometric_auth/biometric_bridge.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "biometric_auth/biometric_auth.h"
#include "unicode/utf8.h"

namespace {

using vk::biometric::BiometricAuthManager;
using vk::biometric::BiometricError;
using vk::biometric::errSecParam;
using vk::biometric::rawValue;

constexpr const char* kDefaultReason = "Authenticate to unlock the vault";

// The C string as well-formed text, ill-formed parts repaired.
std::string readText(const char* string) { return vk::repair_utf8(string); }

}  // namespace

extern "C" {

int32_t biometric_is_available(int32_t* available_out, int32_t* type_out, int32_t* error_out) {
  const auto availability = BiometricAuthManager::shared().isBiometricAvailable();
  *available_out = availability.available ? 1 : 0;
  *type_out = rawValue(availability.type);
  *error_out = rawValue(availability.error);
  return 0;
}

int32_t biometric_authenticate(const char* reason, int32_t* error_out) {
  const std::string text = readText(reason != nullptr ? reason : kDefaultReason);
  const BiometricError result = BiometricAuthManager::shared().authenticate(text);
  *error_out = rawValue(result);
  return result == BiometricError::success ? 1 : 0;
}

int32_t biometric_store_keychain(const char* key, const char* value, const char* service,
                                 int32_t* success_out) {
  if (key == nullptr || value == nullptr || service == nullptr) {
    *success_out = 0;
    return errSecParam;
  }
  const auto stored = BiometricAuthManager::shared().storeInKeychain(
      readText(key), readText(value), readText(service));
  *success_out = stored.success ? 1 : 0;
  return stored.errorCode;
}

int32_t biometric_retrieve_keychain(const char* key, const char* service, char** value_out,
                                    int32_t* length_out) {
  if (key == nullptr || service == nullptr) {
    *length_out = 0;
    return -1;
  }
  const std::optional<std::string> value =
      BiometricAuthManager::shared().retrieveFromKeychain(readText(key), readText(service));
  // A value with a NUL would reach the caller cut short: refuse it rather
  // than hand out a truncated secret.
  if (!value || value->find('\0') != std::string::npos ||
      value->size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    *length_out = 0;
    return -1;
  }
  char* copy = strdup(value->c_str());
  if (copy == nullptr) {
    *length_out = 0;
    return -1;
  }
  *value_out = copy;
  *length_out = static_cast<int32_t>(value->size());
  return 0;
}

int32_t biometric_delete_keychain(const char* key, const char* service, int32_t* success_out) {
  if (key == nullptr || service == nullptr) {
    *success_out = 0;
    return -1;
  }
  const bool deleted =
      BiometricAuthManager::shared().deleteFromKeychain(readText(key), readText(service));
  *success_out = deleted ? 1 : 0;
  return deleted ? 0 : -1;
}

void biometric_free_string(char* string) {
  if (string != nullptr) std::free(string);
}

}  // extern "C"

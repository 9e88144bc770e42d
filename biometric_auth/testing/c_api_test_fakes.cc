// The system factories of the C interface test binary: the shared manager
// there runs on in-memory fakes driven through the controls below.
#include "biometric_auth/testing/c_api_test_fakes.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "biometric_auth/testing/fake_seams.h"

namespace vk::biometric {
namespace {

using testing::FakeBiometricScript;
using testing::FakeKeychainStore;

std::shared_ptr<FakeBiometricScript>& script() {
  static auto* const instance = new std::shared_ptr<FakeBiometricScript>(
      std::make_shared<FakeBiometricScript>());
  return *instance;
}

std::shared_ptr<FakeKeychainStore>& store() {
  static auto* const instance =
      new std::shared_ptr<FakeKeychainStore>(std::make_shared<FakeKeychainStore>());
  return *instance;
}

std::optional<PlatformError> laError(std::int64_t code) {
  if (code == 0) return std::nullopt;
  return PlatformError{std::string(kLocalAuthenticationErrorDomain), code};
}

}  // namespace

std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform() {
  return std::make_unique<testing::FakeBiometricPlatform>(script());
}

std::unique_ptr<KeychainItems> makeSystemKeychainItems() {
  return std::make_unique<testing::FakeKeychainItems>(store());
}

}  // namespace vk::biometric

using vk::biometric::laError;
using vk::biometric::script;
using vk::biometric::store;

extern "C" {

void fake_biometric_set(int64_t kind, int can_evaluate, int64_t check_code, int reply_success,
                        int64_t reply_code) {
  script()->joinReplyThreads();
  script()->setBiometryKind(kind);
  script()->setCanEvaluate(can_evaluate != 0, laError(check_code));
  script()->setReply(reply_success != 0, laError(reply_code));
}

const char* fake_biometric_last_reason(void) {
  static std::string last;
  const auto reasons = script()->reasons();
  last = reasons.empty() ? std::string() : reasons.back();
  return last.c_str();
}

size_t fake_biometric_prompt_count(void) { return script()->reasons().size(); }

void fake_keychain_put(const char* service, const char* key, const char* bytes, size_t length) {
  store()->items[{service, key}] = std::string(bytes, length);
}

int fake_keychain_get(const char* service, const char* key, char* buffer, size_t capacity,
                      size_t* length_out) {
  const auto it = store()->items.find({service, key});
  if (it == store()->items.end()) return 0;
  *length_out = it->second.size();
  std::memcpy(buffer, it->second.data(), std::min(capacity, it->second.size()));
  return 1;
}

size_t fake_keychain_call_count(void) { return store()->calls.size(); }

}  // extern "C"

// The biometric platform on Apple systems: LocalAuthentication contexts.
// Platform calls only; every decision is made by the portable manager.
#import <Foundation/Foundation.h>
#import <LocalAuthentication/LocalAuthentication.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "biometric_auth/biometric_platform.h"

namespace vk::biometric {
namespace {

NSString* toNSString(std::string_view text) {
  NSString* string = [[NSString alloc] initWithBytes:text.data()
                                              length:text.size()
                                            encoding:NSUTF8StringEncoding];
  return string != nil ? string : @"";
}

std::optional<PlatformError> toPlatformError(NSError* error) {
  if (error == nil) return std::nullopt;
  const char* domain = error.domain.UTF8String;
  return PlatformError{domain != nullptr ? domain : "", static_cast<std::int64_t>(error.code)};
}

class LocalAuthenticationContext : public BiometricContext {
 public:
  void setLocalizedFallbackTitle(std::string_view title) override {
    context_.localizedFallbackTitle = toNSString(title);
  }

  std::int64_t biometryType() override { return static_cast<std::int64_t>(context_.biometryType); }

  CanEvaluateAnswer canEvaluatePolicy(std::int64_t policy) override {
    NSError* error = nil;
    const BOOL can = [context_ canEvaluatePolicy:static_cast<LAPolicy>(policy) error:&error];
    if (can == YES) return {true, std::nullopt};
    return {false, toPlatformError(error)};
  }

  void evaluatePolicy(std::int64_t policy, std::string_view reason,
                      EvaluateReply reply) override {
    NSString* text = toNSString(reason);
    // The framework raises an exception for an empty reason; a blank one
    // shows the same (nothing) without ending the process.
    if (text.length == 0) text = @" ";
    auto handler = std::make_shared<EvaluateReply>(std::move(reply));
    // The reply block runs on a queue of the framework's, never this thread.
    [context_ evaluatePolicy:static_cast<LAPolicy>(policy)
             localizedReason:text
                       reply:^(BOOL success, NSError* error) {
                         (*handler)(success == YES, toPlatformError(error));
                       }];
  }

 private:
  LAContext* context_ = [[LAContext alloc] init];
};

class LocalAuthenticationPlatform : public BiometricPlatform {
 public:
  std::unique_ptr<BiometricContext> makeContext() override {
    return std::make_unique<LocalAuthenticationContext>();
  }
};

}  // namespace

std::unique_ptr<BiometricPlatform> makeSystemBiometricPlatform() {
  return std::make_unique<LocalAuthenticationPlatform>();
}

}  // namespace vk::biometric

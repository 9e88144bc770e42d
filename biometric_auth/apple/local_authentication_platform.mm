// The biometric platform on Apple systems: LocalAuthentication contexts.
// Platform calls only; every decision is made by the portable manager.
//
// The bridge's functions run on whatever thread calls them, which usually
// has no autorelease pool: every method drains its own.
#import <Foundation/Foundation.h>
#import <LocalAuthentication/LocalAuthentication.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "biometric_auth/apple/apple_backends.h"
#include "biometric_auth/biometric_platform.h"

namespace vk::biometric {
namespace {

// The numbers the portable manager relies on are the framework's.
static_assert(kLocalAuthenticationErrorDomain == std::string_view(kLAErrorDomain));
static_assert(kPolicyDeviceOwnerAuthenticationWithBiometrics ==
              LAPolicyDeviceOwnerAuthenticationWithBiometrics);
static_assert(platform::kBiometryTouchID == LABiometryTypeTouchID);
static_assert(platform::kBiometryFaceID == LABiometryTypeFaceID);
#pragma clang diagnostic push
// An enumerator is a compile-time number here; nothing of macOS 14 is called.
#pragma clang diagnostic ignored "-Wunguarded-availability-new"
static_assert(platform::kBiometryOpticID == LABiometryTypeOpticID);
#pragma clang diagnostic pop
static_assert(platform::kAuthenticationFailed == LAErrorAuthenticationFailed);
static_assert(platform::kUserCancel == LAErrorUserCancel);
static_assert(platform::kUserFallback == LAErrorUserFallback);
static_assert(platform::kSystemCancel == LAErrorSystemCancel);
static_assert(platform::kPasscodeNotSet == LAErrorPasscodeNotSet);
static_assert(platform::kBiometryNotAvailable == LAErrorBiometryNotAvailable);
static_assert(platform::kBiometryNotEnrolled == LAErrorBiometryNotEnrolled);
static_assert(platform::kBiometryLockout == LAErrorBiometryLockout);
static_assert(platform::kAppCancel == LAErrorAppCancel);

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
  LocalAuthenticationContext() {
    @autoreleasepool {
      context_ = [[LAContext alloc] init];
    }
  }

  ~LocalAuthenticationContext() override {
    @autoreleasepool {
      context_ = nil;
    }
  }

  void setLocalizedFallbackTitle(std::string_view title) override {
    @autoreleasepool {
      context_.localizedFallbackTitle = toNSString(title);
    }
  }

  std::int64_t biometryType() override {
    @autoreleasepool {
      return static_cast<std::int64_t>(context_.biometryType);
    }
  }

  CanEvaluateAnswer canEvaluatePolicy(std::int64_t policy) override {
    @autoreleasepool {
      NSError* error = nil;
      // Any non-zero BOOL is yes: on Intel Macs BOOL is a signed char.
      const bool can = [context_ canEvaluatePolicy:static_cast<LAPolicy>(policy) error:&error];
      if (can) return {true, std::nullopt};
      return {false, toPlatformError(error)};
    }
  }

  void evaluatePolicy(std::int64_t policy, std::string_view reason,
                      EvaluateReply reply) override {
    @autoreleasepool {
      NSString* text = toNSString(reason);
      // The framework raises an exception for an empty reason; a blank one
      // shows the same (nothing) without ending the process.
      if (text.length == 0) text = @" ";
      auto handler = std::make_shared<EvaluateReply>(std::move(reply));
      // The reply block runs on a queue of the framework's, never this thread.
      [context_ evaluatePolicy:static_cast<LAPolicy>(policy)
               localizedReason:text
                         reply:^(BOOL success, NSError* error) {
                           @autoreleasepool {
                             (*handler)(static_cast<bool>(success), toPlatformError(error));
                           }
                         }];
    }
  }

 private:
  LAContext* context_ = nil;
};

class LocalAuthenticationPlatform : public BiometricPlatform {
 public:
  std::unique_ptr<BiometricContext> makeContext() override {
    return std::make_unique<LocalAuthenticationContext>();
  }
};

}  // namespace

namespace apple_backend {

std::unique_ptr<BiometricPlatform> makeLocalAuthenticationPlatform() {
  return std::make_unique<LocalAuthenticationPlatform>();
}

}  // namespace apple_backend
}  // namespace vk::biometric

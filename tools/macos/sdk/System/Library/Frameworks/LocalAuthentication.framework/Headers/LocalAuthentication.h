/* LocalAuthentication: LAContext, its policies, biometry kinds and error
 * codes. Importing it brings in LAPublicDefines.h, as the framework does.
 * Follows: developer.apple.com/documentation/localauthentication/lacontext,
 * .../localauthentication/lacontext/canevaluatepolicy(_:error:),
 * .../localauthentication/lacontext/evaluatepolicy(_:localizedreason:reply:),
 * .../localauthentication/lacontext/localizedfallbacktitle,
 * .../localauthentication/lacontext/biometrytype, .../localauthentication/labiometrytype,
 * .../localauthentication/lapolicy, .../localauthentication/laerror-swift.struct/code
 * and .../localauthentication/laerrordomain. */
#ifndef VK_SDK_LOCALAUTHENTICATION_H
#define VK_SDK_LOCALAUTHENTICATION_H

#include <Foundation/Foundation.h>
#include <LocalAuthentication/LAPublicDefines.h>

typedef NS_ENUM(NSInteger, LAPolicy){
  LAPolicyDeviceOwnerAuthenticationWithBiometrics = kLAPolicyDeviceOwnerAuthenticationWithBiometrics,
  LAPolicyDeviceOwnerAuthentication = kLAPolicyDeviceOwnerAuthentication,
  LAPolicyDeviceOwnerAuthenticationWithWatch
      __attribute__((availability(macos, introduced = 10.15))) =
          kLAPolicyDeviceOwnerAuthenticationWithWatch,
  LAPolicyDeviceOwnerAuthenticationWithBiometricsOrWatch
      __attribute__((availability(macos, introduced = 10.15))) =
          kLAPolicyDeviceOwnerAuthenticationWithBiometricsOrWatch,
};

typedef NS_ENUM(NSInteger, LAError){
  LAErrorAuthenticationFailed = kLAErrorAuthenticationFailed,
  LAErrorUserCancel = kLAErrorUserCancel,
  LAErrorUserFallback = kLAErrorUserFallback,
  LAErrorSystemCancel = kLAErrorSystemCancel,
  LAErrorPasscodeNotSet = kLAErrorPasscodeNotSet,
  LAErrorBiometryNotAvailable = kLAErrorBiometryNotAvailable,
  LAErrorBiometryNotEnrolled = kLAErrorBiometryNotEnrolled,
  LAErrorBiometryLockout = kLAErrorBiometryLockout,
  LAErrorAppCancel = kLAErrorAppCancel,
  LAErrorInvalidContext = kLAErrorInvalidContext,
  LAErrorWatchNotAvailable = kLAErrorWatchNotAvailable,
  LAErrorNotInteractive = kLAErrorNotInteractive,
};

typedef NS_ENUM(NSInteger, LABiometryType){
  LABiometryTypeNone = 0,
  LABiometryTypeTouchID = 1,
  LABiometryTypeFaceID = 2,
  LABiometryTypeOpticID __attribute__((availability(macos, introduced = 14.0))) = 4,
} __attribute__((availability(macos, introduced = 10.13.2)));

#ifdef __OBJC__
NS_ASSUME_NONNULL_BEGIN

extern NSErrorDomain const LAErrorDomain;

@interface LAContext : NSObject
- (BOOL)canEvaluatePolicy:(LAPolicy)policy error:(NSError *__autoreleasing *)error;
- (void)evaluatePolicy:(LAPolicy)policy
       localizedReason:(NSString *)localizedReason
                 reply:(void (^)(BOOL success, NSError *_Nullable error))reply;
- (void)invalidate;
@property(nonatomic, nullable, copy) NSString *localizedFallbackTitle;
@property(nonatomic, nullable, copy) NSString *localizedCancelTitle;
@property(nonatomic, copy) NSString *localizedReason;
@property(nonatomic) BOOL interactionNotAllowed;
@property(nonatomic) NSTimeInterval touchIDAuthenticationAllowableReuseDuration;
@property(nonatomic, nullable, readonly) NSData *evaluatedPolicyDomainState;
@property(nonatomic, readonly) LABiometryType biometryType
    __attribute__((availability(macos, introduced = 10.13.2)));
@end

NS_ASSUME_NONNULL_END
#endif

#endif

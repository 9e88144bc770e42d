/* The numbers and the error-domain text of LocalAuthentication as C
 * macros. kLAErrorDomain is a macro (a C string), not a variable: a name
 * of ours spelt the same is rewritten by the preprocessor.
 * Follows: developer.apple.com/documentation/localauthentication/klaerrordomain,
 * .../localauthentication/klapolicydeviceownerauthenticationwithbiometrics and
 * .../localauthentication/klaerrorauthenticationfailed (the kLAError* family). */
#ifndef VK_SDK_LAPUBLICDEFINES_H
#define VK_SDK_LAPUBLICDEFINES_H

#define kLAPolicyDeviceOwnerAuthenticationWithBiometrics 1
#define kLAPolicyDeviceOwnerAuthentication 2
#define kLAPolicyDeviceOwnerAuthenticationWithWatch 3
#define kLAPolicyDeviceOwnerAuthenticationWithBiometricsOrWatch 4

#define kLAErrorDomain "com.apple.LocalAuthentication"

#define kLAErrorAuthenticationFailed -1
#define kLAErrorUserCancel -2
#define kLAErrorUserFallback -3
#define kLAErrorSystemCancel -4
#define kLAErrorPasscodeNotSet -5
#define kLAErrorBiometryNotAvailable -6
#define kLAErrorBiometryNotEnrolled -7
#define kLAErrorBiometryLockout -8
#define kLAErrorAppCancel -9
#define kLAErrorInvalidContext -10
#define kLAErrorWatchNotAvailable -11
#define kLAErrorBiometryNotPaired -12  /* unsure */
#define kLAErrorBiometryDisconnected -13  /* unsure */
#define kLAErrorInvalidDimensions -14  /* unsure */
#define kLAErrorNotInteractive -1004

#endif

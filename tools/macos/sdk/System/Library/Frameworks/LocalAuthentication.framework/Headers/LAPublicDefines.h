/* The numbers and the error-domain text of LocalAuthentication as C
 * macros, every kLA name the framework's public header defines.
 * kLAErrorDomain is a macro (a C string), not a variable: a name of ours
 * spelt like any of them is rewritten by the preprocessor.
 * Follows: developer.apple.com/documentation/localauthentication/klaerrordomain,
 * .../localauthentication/klapolicydeviceownerauthenticationwithbiometrics and
 * .../localauthentication/klaerrorauthenticationfailed (the kLAError* family),
 * .../localauthentication/laaccesscontroloperation, .../localauthentication/lacredentialtype
 * and .../localauthentication/lacontext/evaluateaccesscontrol(_:operation:localizedreason:reply:). */
#ifndef VK_SDK_LAPUBLICDEFINES_H
#define VK_SDK_LAPUBLICDEFINES_H

#define kLAPolicyDeviceOwnerAuthenticationWithBiometrics 1
#define kLAPolicyDeviceOwnerAuthentication 2
#define kLAPolicyDeviceOwnerAuthenticationWithWatch 3
#define kLAPolicyDeviceOwnerAuthenticationWithBiometricsOrWatch 4
#define kLAPolicyDeviceOwnerAuthenticationWithWristDetection 5 /* unsure */

#define kLAOptionUserFallback 1 /* unsure */
#define kLAOptionAuthenticationReason 2 /* unsure */

#define kLACredentialTypePassphrase 0
#define kLACredentialTypeApplicationPassword 0
#define kLACredentialTypeSmartCardPIN -3 /* unsure */

#define kLAAccessControlOperationCreateItem 0
#define kLAAccessControlOperationUseItem 1
#define kLAAccessControlOperationCreateKey 2
#define kLAAccessControlOperationUseKeySign 3
#define kLAAccessControlOperationUseKeyDecrypt 4
#define kLAAccessControlOperationUseKeyKeyExchange 5

#define kLAErrorDomain "com.apple.LocalAuthentication"

#define kLAErrorAuthenticationFailed -1
#define kLAErrorUserCancel -2
#define kLAErrorUserFallback -3
#define kLAErrorSystemCancel -4
#define kLAErrorPasscodeNotSet -5
#define kLAErrorBiometryNotAvailable -6
#define kLAErrorBiometryNotEnrolled -7
#define kLAErrorBiometryLockout -8
#define kLAErrorTouchIDNotAvailable kLAErrorBiometryNotAvailable
#define kLAErrorTouchIDNotEnrolled kLAErrorBiometryNotEnrolled
#define kLAErrorTouchIDLockout kLAErrorBiometryLockout
#define kLAErrorAppCancel -9
#define kLAErrorInvalidContext -10
#define kLAErrorWatchNotAvailable -11
#define kLAErrorBiometryNotPaired -12  /* unsure */
#define kLAErrorBiometryDisconnected -13  /* unsure */
#define kLAErrorInvalidDimensions -14  /* unsure */
#define kLAErrorNotInteractive -1004

#endif

/* <AvailabilityMacros.h>: the deployment target as a number (130300 for
 * macOS 13.3), from the compiler's own definition of it.
 * Follows: Apple's "SDK Compatibility Guide" (MAC_OS_X_VERSION_MIN_REQUIRED). */
#ifndef VK_SDK_AVAILABILITYMACROS_H
#define VK_SDK_AVAILABILITYMACROS_H

#define MAC_OS_X_VERSION_MIN_REQUIRED __ENVIRONMENT_MAC_OS_X_VERSION_MIN_REQUIRED__
#define MAC_OS_X_VERSION_MAX_ALLOWED 130300
#define MAC_OS_X_VERSION_10_15 101500
#define MAC_OS_VERSION_13_0 130000

#endif

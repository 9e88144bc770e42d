/* <MacTypes.h>: the fixed-width names and status type of Apple's C APIs.
 * OSStatus is a signed 32-bit integer.
 * Follows: developer.apple.com/documentation/kernel/osstatus,
 * developer.apple.com/documentation/kernel/boolean and, for UniChar,
 * developer.apple.com/documentation/foundation/unichar (UTF-16 code units). */
#ifndef VK_SDK_MACTYPES_H
#define VK_SDK_MACTYPES_H

#include <stdint.h>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef SInt32 OSStatus;
typedef SInt16 OSErr;
typedef unsigned char Boolean;
typedef UInt16 UniChar; /* unsure: the pages show Foundation's unichar, not UniChar */
typedef UInt32 FourCharCode;
typedef FourCharCode OSType;

enum { noErr = 0 };

#endif

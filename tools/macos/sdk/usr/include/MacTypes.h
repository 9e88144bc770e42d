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

/* The old Toolbox names every Foundation or CoreFoundation user sees at
 * global scope (Size, Point, Rect, Duration, Handle...): a global name of
 * ours spelt the same clashes on a Mac, so it clashes here too.
 * Follows: the type pages of developer.apple.com/documentation/kernel
 * (Kernel > Data Types). */
typedef FourCharCode ResType;
typedef float Float32;
typedef double Float64;
typedef SInt32 Fixed;
typedef SInt32 Fract;
typedef UInt32 UnsignedFixed;
typedef UInt8 Byte;
typedef SInt8 SignedByte;
typedef char *Ptr;
typedef Ptr *Handle;
typedef long Size;
typedef UInt32 OptionBits;
typedef unsigned long ByteCount;
typedef unsigned long ItemCount;
typedef SInt32 Duration;
typedef unsigned long UniCharCount;
typedef UInt32 UTF32Char;
typedef UInt16 UTF16Char;
typedef UInt8 UTF8Char;
typedef unsigned char Str255[256];
typedef unsigned char *StringPtr;
typedef unsigned char Style;
typedef long (*ProcPtr)(void);
struct Point {
  short v;
  short h;
};
typedef struct Point Point;
struct Rect {
  short top;
  short left;
  short bottom;
  short right;
};
typedef struct Rect Rect;
struct wide {
  UInt32 lo;
  SInt32 hi;
};
typedef struct wide wide;
typedef wide AbsoluteTime; /* unsure: UnsignedWide on some pages */

enum { noErr = 0 };

#endif

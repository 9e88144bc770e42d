/* <TargetConditionals.h> for a Mac: every TARGET_OS_ name the checked code
 * or its libraries test is defined (clang rejects undefined ones in #if on
 * Darwin targets).
 * Follows: developer.apple.com/documentation/kernel/mach_header (the
 * architecture names) and the TARGET_OS_ conventions described in Apple's
 * "Porting your macOS apps to Apple silicon" page. */
#ifndef VK_SDK_TARGETCONDITIONALS_H
#define VK_SDK_TARGETCONDITIONALS_H

#define TARGET_OS_MAC 1
#define TARGET_OS_OSX 1
#define TARGET_OS_IPHONE 0
#define TARGET_OS_IOS 0
#define TARGET_OS_WATCH 0
#define TARGET_OS_TV 0
#define TARGET_OS_VISION 0
#define TARGET_OS_MACCATALYST 0
#define TARGET_OS_UIKITFORMAC 0
#define TARGET_OS_SIMULATOR 0
#define TARGET_OS_EMBEDDED 0
#define TARGET_OS_BRIDGE 0
#define TARGET_OS_DRIVERKIT 0
#define TARGET_OS_WIN32 0
#define TARGET_OS_WINDOWS 0
#define TARGET_OS_UNIX 0
#define TARGET_OS_LINUX 0
#define TARGET_IPHONE_SIMULATOR 0
#define TARGET_RT_64_BIT 1
#define TARGET_RT_LITTLE_ENDIAN 1
#define TARGET_RT_BIG_ENDIAN 0
#define TARGET_RT_MAC_MACHO 1

#if defined(__x86_64__)
#define TARGET_CPU_X86_64 1
#define TARGET_CPU_ARM64 0
#elif defined(__arm64__) || defined(__aarch64__)
#define TARGET_CPU_X86_64 0
#define TARGET_CPU_ARM64 1
#else
#error "a Mac is x86_64 or arm64"
#endif
#define TARGET_CPU_X86 0
#define TARGET_CPU_ARM 0
#define TARGET_CPU_PPC 0
#define TARGET_CPU_PPC64 0

#endif

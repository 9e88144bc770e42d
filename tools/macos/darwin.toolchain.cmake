# Configures the tree as a macOS build on Linux: clang 14 targeting Darwin,
# the declaration-only SDK beside this file, and Debian's libc++ headers.
# compile_check.py uses it to compile every file; link_check.py to link the
# product with ld64.lld against the SDK's text-based stubs. Nothing built
# with it can run here.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 22.4)  # the Darwin release of macOS 13.3

# One architecture per build tree: x86_64 unless VK_MACOS_ARCH says arm64
# (link_check.py builds one tree of each and joins them with llvm-lipo).
# compile_check.py replaces the target per file.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VK_MACOS_ARCH VK_MACOS_LIBCXX_STUB_DIR)
if(NOT VK_MACOS_ARCH)
  set(VK_MACOS_ARCH x86_64)
endif()
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${VK_MACOS_ARCH}-apple-macos13.3)
set(CMAKE_CXX_COMPILER_TARGET ${VK_MACOS_ARCH}-apple-macos13.3)
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.3)
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/sdk)
# The C++ library of macOS, whose headers are Debian's libc++-14-dev.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")

# The Mach-O port of lld, against the .tbd stubs under sdk/. libc++'s stub
# is made from Debian's libc++ by link_check.py, in a directory searched
# before the SDK's.
set(vk_link_flags "-fuse-ld=lld")
if(VK_MACOS_LIBCXX_STUB_DIR)
  string(APPEND vk_link_flags " -L${VK_MACOS_LIBCXX_STUB_DIR}")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${vk_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${vk_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${vk_link_flags}")

# Compiler checks stop at an object file: the stubs serve the product's
# link, not CMake's probes.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# GoogleTest and Google Benchmark are found through the host's CMake
# packages, as a Mac finds them through its package manager's; only their
# headers are used.
execute_process(COMMAND gcc -print-multiarch
  OUTPUT_VARIABLE CMAKE_LIBRARY_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)

# Configures the tree as a macOS build on Linux, for the syntax-only compile
# check (compile_check.py): clang 14 targeting Darwin, the declaration-only
# SDK beside this file, and Debian's libc++ headers. Nothing built with it can
# be linked or run.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 22.4)  # the Darwin release of macOS 13.3

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
# compile_check.py replaces the target per architecture.
set(CMAKE_C_COMPILER_TARGET x86_64-apple-macos13.3)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macos13.3)
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.3)
set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/sdk)
# The C++ library of macOS, whose headers are Debian's libc++-14-dev.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")

# There is no Darwin linker or C library to link against: compiler checks
# stop at an object file.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# GoogleTest and Google Benchmark are found through the host's CMake
# packages, as a Mac finds them through its package manager's; only their
# headers are used.
execute_process(COMMAND gcc -print-multiarch
  OUTPUT_VARIABLE CMAKE_LIBRARY_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)

# Installs the build tree under PREFIX and uses it as a consumer would:
# the files are where the prefix's conventions put them (the developer
# tools only with their component), pkg-config and find_package() both give
# a bridge a C program links and runs against, and the installed manifest
# installer registers the installed host without being told where it is.
# Run with cmake -P; every -D variable is set by the test's registration.
cmake_minimum_required(VERSION 3.25)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "install_tree: ${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    string(JOIN " " command ${ARGN})
    fail("`${command}` failed (${code}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}")

# On macOS the host is an app-like bundle; the manifest names the
# executable inside it.
set(host "${BINDIR}/vellumkeep-native")
if(HOST_BUNDLE)
  set(host "${HOST_BUNDLE}/Contents/MacOS/vellumkeep-native")
endif()
set(tools "${BINDIR}/vk-json" "${BINDIR}/vk-stand-in-app" "${BINDIR}/vk-host-client")
foreach(file IN LISTS tools)
  if(EXISTS "${PREFIX}/${file}")
    fail("installed by default: ${PREFIX}/${file}")
  endif()
endforeach()
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}" --component tools)

set(expected_files ${tools}
  "${host}" "${BINDIR}/vk-install-host-manifest"
  "${DOCDIR}/LICENSE"
  "${INCLUDEDIR}/vellumkeep/biometric_bridge.h"
  "${LIBDIR}/libvellumkeep-bridge${SHARED_SUFFIX}"
  "${LIBDIR}/pkgconfig/vellumkeep-bridge.pc"
  "${LIBDIR}/cmake/VellumkeepNative/VellumkeepNativeConfig.cmake"
  "${LIBDIR}/cmake/VellumkeepNative/VellumkeepNativeConfigVersion.cmake"
  "${LIBDIR}/cmake/VellumkeepNative/VellumkeepNativeTargets.cmake")
if(BACKENDS_MODULE)
  list(APPEND expected_files "${BACKENDS_MODULE}")
endif()
foreach(file IN LISTS expected_files)
  if(NOT EXISTS "${PREFIX}/${file}")
    fail("not installed: ${PREFIX}/${file}")
  endif()
endforeach()

# A sanitized library needs the sanitizers' runtimes in the program; clang
# links their C++ part only when asked.
set(sanitize_flags "")
set(sanitize_libs "")
if(SANITIZE)
  set(sanitize_flags -fsanitize=address,undefined)
  if(C_COMPILER MATCHES "clang")
    set(sanitize_libs -fsanitize-link-c++-runtime -lstdc++)
  endif()
endif()
set(ENV{LD_LIBRARY_PATH} "${PREFIX}/${LIBDIR}")
set(ENV{DYLD_LIBRARY_PATH} "${PREFIX}/${LIBDIR}")

# pkg-config, through the relocatable .pc file.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} "${PREFIX}/${LIBDIR}/pkgconfig")
  run(${PKG_CONFIG} --cflags --libs vellumkeep-bridge)
  string(STRIP "${run_output}" flags)
  # The paths come relative to the .pc file; they must lead into the prefix.
  if(NOT flags MATCHES "^-I([^ ]+) -L([^ ]+) -lvellumkeep-bridge$")
    fail("pkg-config gave `${flags}`")
  endif()
  file(REAL_PATH "${CMAKE_MATCH_1}" include_dir)
  file(REAL_PATH "${CMAKE_MATCH_2}" lib_dir)
  file(REAL_PATH "${PREFIX}/${INCLUDEDIR}" expected_include_dir)
  file(REAL_PATH "${PREFIX}/${LIBDIR}" expected_lib_dir)
  if(NOT include_dir STREQUAL expected_include_dir OR NOT lib_dir STREQUAL expected_lib_dir)
    fail("pkg-config gave `${flags}`, which does not lead to ${PREFIX}")
  endif()
  separate_arguments(flag_list UNIX_COMMAND "${flags}")
  run(${C_COMPILER} -std=c11 -Wall -Werror ${sanitize_flags} "${CONSUMER_DIR}/consumer.c"
      ${flag_list} ${sanitize_libs} -o "${WORK_DIR}/consumer-pkg-config")
  run("${WORK_DIR}/consumer-pkg-config")
  if(NOT run_output STREQUAL "bridge linked\n")
    fail("pkg-config consumer printed `${run_output}`")
  endif()
else()
  message(STATUS "pkg-config not installed: its check is left out")
endif()

# find_package(VellumkeepNative), in a project of its own.
string(JOIN " " sanitize_flag_text ${sanitize_flags})
string(JOIN " " sanitize_lib_text ${sanitize_libs})
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer-build" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DCMAKE_C_COMPILER=${C_COMPILER}"
    "-DCMAKE_C_FLAGS=${sanitize_flag_text}" "-DCMAKE_EXE_LINKER_FLAGS=${sanitize_flag_text}"
    "-DCMAKE_C_STANDARD_LIBRARIES=${sanitize_lib_text}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/consumer-build")
run("${WORK_DIR}/consumer-build/consumer")
if(NOT run_output STREQUAL "bridge linked\n")
  fail("find_package consumer printed `${run_output}`")
endif()

# The installed host finds its backends module on the first bridge call,
# as a preloaded caller sees. The session bus leads nowhere, so no keyring
# is touched.
if(BACKENDS_MODULE)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "LD_PRELOAD=${BRIDGE_PROBE}" VK_PROBE_SERVICE=com.example.install-test
      "DBUS_SESSION_BUS_ADDRESS=unix:path=${WORK_DIR}/no-bus" "${PREFIX}/${host}"
    INPUT_FILE /dev/null RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0 OR NOT err MATCHES "probe: backends mapped after 1\n" OR err MATCHES "unavailable")
    fail("the installed host did not open its backends module (${code}):\n${err}")
  endif()
endif()

# The installed installer registers the installed host (inside its bundle
# on macOS) without being told where it is.
set(home "${WORK_DIR}/home")
set(manifest "${home}/.config/chromium/NativeMessagingHosts/com.tarnwick.vellumkeep.json")
run("${PREFIX}/${BINDIR}/vk-install-host-manifest" install --browser=chromium --os=linux
    "--home=${home}" --allowed-origin=chrome-extension://abcdefghijklmnopabcdefghijklmnop/)
file(REAL_PATH "${PREFIX}/${host}" installed_host)
if(NOT run_output STREQUAL "using the host of this installation: ${installed_host}\nwrote ${manifest}\n")
  fail("installer printed `${run_output}`")
endif()
file(READ "${manifest}" text)
string(FIND "${text}" "\"path\":\"${installed_host}\"" at)
if(at EQUAL -1)
  fail("manifest does not name the installed host: ${text}")
endif()
message(STATUS "install tree at ${PREFIX} is complete and usable")

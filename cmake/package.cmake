# Packages of the release build: `cpack -G TGZ` (the default components,
# for any prefix) and, on Linux, `cpack -G DEB` (the same under /usr, with
# the machine-wide manifests for the browsers whose extension IDs are built
# in). Run from the build directory, or with --config <build>/CPackConfig.cmake.
include_guard(GLOBAL)

set(CPACK_PACKAGE_NAME vellumkeep-native)
set(CPACK_PACKAGE_VENDOR "The vellumkeep-native authors")
set(CPACK_PACKAGE_CONTACT "The vellumkeep-native authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Native-messaging host of the Tarnwick password manager")
set(CPACK_PACKAGE_DESCRIPTION
  "Relays the Tarnwick browser extension's messages to the Tarnwick desktop application, and exports its biometric and keychain bridge.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  list(APPEND CPACK_GENERATOR DEB)
endif()

# One package each, of the components cmake/package_components.cmake names.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package_components.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.example/")
# The libraries the programs and the backends module link (libsecret, GLib).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

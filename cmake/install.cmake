# What `cmake --install` puts under the prefix: the host and (on Linux) its
# backends module, its installer, the bridge's shared library and C header,
# a CMake package and a pkg-config file for the bridge. Components:
#   runtime      the programs a user needs (installed by default)
#   development  the bridge's header, CMake package and pkg-config file
#                (installed by default)
#   tools        the stand-in desktop application and the developer tools
#                (only when asked: --component tools)
#   browser-manifests  the machine-wide manifests for the browsers whose
#                extension IDs are built in (only when asked; the DEB has them)
# Included from the top-level CMakeLists.txt after all targets exist;
# targets another part of the tree does not build are skipped.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

set(VK_PACKAGE_NAME VellumkeepNative)
set(VK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${VK_PACKAGE_NAME})

set(_vk_programs vellumkeep-native vk-install-host-manifest)
set(_vk_exported)
# On macOS the host is an app-like bundle (native_host/CMakeLists.txt), a
# program other programs start: <prefix>/libexec/vellumkeep-native.app.
set(VK_HOST_BUNDLE_INSTALL_DIR ${CMAKE_INSTALL_LIBEXECDIR})
foreach(_vk_program IN LISTS _vk_programs)
  if(TARGET ${_vk_program})
    install(TARGETS ${_vk_program} EXPORT ${VK_PACKAGE_NAME}Targets
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
      BUNDLE DESTINATION ${VK_HOST_BUNDLE_INSTALL_DIR} COMPONENT runtime)
    list(APPEND _vk_exported ${_vk_program})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)

# Exported on their own, with their component: an installation without
# them still satisfies find_package.
set(_vk_tools_exported)
foreach(_vk_tool vk-stand-in-app vk-json vk-host-client)
  if(TARGET ${_vk_tool})
    install(TARGETS ${_vk_tool} EXPORT ${VK_PACKAGE_NAME}ToolsTargets
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools EXCLUDE_FROM_ALL)
    list(APPEND _vk_tools_exported ${_vk_tool})
  endif()
endforeach()
if(_vk_tools_exported)
  install(EXPORT ${VK_PACKAGE_NAME}ToolsTargets NAMESPACE vellumkeep::
    DESTINATION ${VK_CMAKE_PACKAGE_DIR} COMPONENT tools EXCLUDE_FROM_ALL)
endif()

if(TARGET vk_desktop_backends)
  # The host's own backends module, at the place the host looks for it;
  # private to the host, so neither exported nor versioned.
  get_target_property(_vk_backends_dir vk_desktop_backends VK_INSTALL_DIR)
  install(TARGETS vk_desktop_backends LIBRARY DESTINATION ${_vk_backends_dir} COMPONENT runtime)
endif()

# The machine-wide manifests, written by the installer just built into the
# staging tree (DESTDIR) and naming the host where it is installed. Only
# for the IDs built in: with none there is nothing to register.
if(VK_CHROME_EXTENSION_IDS OR VK_FIREFOX_EXTENSION_IDS)
  install(CODE "
    set(vk_root \"\$ENV{DESTDIR}\")
    if(NOT vk_root)
      set(vk_root /)
    endif()
    execute_process(
      COMMAND \"$<TARGET_FILE:vk-install-host-manifest>\" install --system --browser=all
        \"--root=\${vk_root}\"
        \"--host-path=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vellumkeep-native\"
      RESULT_VARIABLE vk_status)
    if(NOT vk_status EQUAL 0)
      message(FATAL_ERROR \"the browsers' manifests could not be written\")
    endif()"
    COMPONENT browser-manifests EXCLUDE_FROM_ALL)
endif()

if(TARGET vellumkeep-bridge)
  # In the build tree the header is found from the source root; installed,
  # callers write #include <vellumkeep/biometric_bridge.h>.
  set_property(TARGET vellumkeep-bridge PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # A relative PUBLIC_HEADER would be read against this directory.
  get_target_property(_vk_bridge_dir vellumkeep-bridge SOURCE_DIR)
  set_property(TARGET vellumkeep-bridge PROPERTY PUBLIC_HEADER ${_vk_bridge_dir}/biometric_bridge.h)
  install(TARGETS vellumkeep-bridge EXPORT ${VK_PACKAGE_NAME}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vellumkeep COMPONENT development)
  list(APPEND _vk_exported vellumkeep-bridge)

  # Paths relative to the .pc file, so the installed tree can be moved and
  # `cmake --install --prefix` needs no reconfiguration.
  set(_vk_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(VK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
    set(VK_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
    set(VK_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  else()
    file(RELATIVE_PATH _vk_up "/prefix/${_vk_pc_dir}" "/prefix")
    set(VK_PC_PREFIX "\${pcfiledir}/${_vk_up}")
    string(REGEX REPLACE "/$" "" VK_PC_PREFIX "${VK_PC_PREFIX}")
    set(VK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
    set(VK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vellumkeep-bridge.pc.in
    ${PROJECT_BINARY_DIR}/vellumkeep-bridge.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vellumkeep-bridge.pc
    DESTINATION ${_vk_pc_dir} COMPONENT development)
endif()

if(_vk_exported)
  install(EXPORT ${VK_PACKAGE_NAME}Targets NAMESPACE vellumkeep::
    DESTINATION ${VK_CMAKE_PACKAGE_DIR} COMPONENT development)
  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/${VK_PACKAGE_NAME}Config.cmake.in
    ${PROJECT_BINARY_DIR}/${VK_PACKAGE_NAME}Config.cmake
    INSTALL_DESTINATION ${VK_CMAKE_PACKAGE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/${VK_PACKAGE_NAME}ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES
      ${PROJECT_BINARY_DIR}/${VK_PACKAGE_NAME}Config.cmake
      ${PROJECT_BINARY_DIR}/${VK_PACKAGE_NAME}ConfigVersion.cmake
    DESTINATION ${VK_CMAKE_PACKAGE_DIR} COMPONENT development)
endif()

if(VK_BUILD_TESTS)
  # On Linux the installed host is also checked to open its backends module.
  set(_vk_backends_module "")
  set(_vk_bridge_probe "")
  if(TARGET vk_desktop_backends AND TARGET vk_bridge_probe)
    get_target_property(_vk_backends_path vk_desktop_backends VK_PATH_FROM_EXECUTABLE)
    cmake_path(GET _vk_backends_path FILENAME _vk_backends_file)
    set(_vk_backends_module ${_vk_backends_dir}/${_vk_backends_file})
    set(_vk_bridge_probe $<TARGET_FILE:vk_bridge_probe>)
  endif()
  set(_vk_host_bundle "")
  if(APPLE)
    set(_vk_host_bundle ${VK_HOST_BUNDLE_INSTALL_DIR}/vellumkeep-native.app)
  endif()
  # Installs into a directory of the build tree and uses the result the way
  # a consumer would: pkg-config, find_package, the installer on the host.
  add_test(NAME install_tree
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DPREFIX=${PROJECT_BINARY_DIR}/install-test/prefix
      -DWORK_DIR=${PROJECT_BINARY_DIR}/install-test
      -DC_COMPILER=${CMAKE_C_COMPILER}
      -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
      -DBINDIR=${CMAKE_INSTALL_BINDIR}
      -DDOCDIR=${CMAKE_INSTALL_DOCDIR}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/install/consumer
      -DSANITIZE=${VK_SANITIZE}
      -DSHARED_SUFFIX=${CMAKE_SHARED_LIBRARY_SUFFIX}
      -DBACKENDS_MODULE=${_vk_backends_module}
      -DBRIDGE_PROBE=${_vk_bridge_probe}
      -DHOST_BUNDLE=${_vk_host_bundle}
      -P ${PROJECT_SOURCE_DIR}/tests/install/install_test.cmake)
  set_tests_properties(install_tree PROPERTIES
    LABELS install SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK install-tree)

  # The DEB and TGZ that cpack makes of this build, unpacked and used.
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND TARGET vk-stand-in-app AND TARGET vk-host-client)
    add_test(NAME package_deb
      COMMAND sh ${PROJECT_SOURCE_DIR}/tests/install/package_test.sh ${PROJECT_BINARY_DIR}
        ${PROJECT_BINARY_DIR}/package-test $<TARGET_FILE:vk-stand-in-app>
        $<TARGET_FILE:vk-host-client> ${PROJECT_VERSION} ${CMAKE_INSTALL_LIBDIR})
    set_tests_properties(package_deb PROPERTIES
      LABELS install SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK install-tree)
  endif()
endif()

# Read by cpack for each generator: which install components its package
# holds. An archive is unpacked anywhere, so it carries no machine-wide
# manifests; a DEB installs under /usr and carries them.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL runtime development browser-manifests)
else()
  set(CPACK_COMPONENTS_ALL runtime development)
endif()

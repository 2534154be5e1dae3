# Run by CPack once the packages are made (CPACK_POST_BUILD_SCRIPTS): adds
# "Multi-Arch: same" to the control file of each package named in
# CPACK_KORVANTA_MULTI_ARCH_SAME, unpacking and repacking it with dpkg-deb.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(file_name "${deb}" NAME)
  string(REGEX REPLACE "_.*" "" package "${file_name}")
  if(NOT package IN_LIST CPACK_KORVANTA_MULTI_ARCH_SAME)
    continue()
  endif()
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/multi-arch/${package}")
  file(REMOVE_RECURSE "${tree}")
  file(MAKE_DIRECTORY "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${tree}/DEBIAN/control" control)
  string(STRIP "${control}" control)
  file(WRITE "${tree}/DEBIAN/control" "${control}\nMulti-Arch: same\n")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()

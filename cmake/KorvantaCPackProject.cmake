# Read by cpack before it packages (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
  # Each package's copyright file, changelog and overrides (KorvantaDebianFiles.cmake).
  set(ENV{KORVANTA_DEBIAN_FILES} 1)
endif()

# The library package's Depends come from dpkg-shlibdeps run here rather than by
# CPack, whose own run would also give the package postinst and postrm scripts
# that call ldconfig: the package's ldconfig trigger does that, as Debian wants.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(_dir "${CPACK_KORVANTA_SHLIBDEPS_DIR}")
  # dpkg-shlibdeps insists on a debian/control, though it reads nothing from it.
  file(MAKE_DIRECTORY "${_dir}/debian")
  file(TOUCH "${_dir}/debian/control")
  execute_process(COMMAND dpkg-shlibdeps -O "${CPACK_KORVANTA_LIBRARY}" WORKING_DIRECTORY "${_dir}"
    OUTPUT_VARIABLE _substvars ERROR_VARIABLE _error RESULT_VARIABLE _failed)
  if(_failed OR NOT _substvars MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps ${CPACK_KORVANTA_LIBRARY} failed: ${_error}")
  endif()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
endif()

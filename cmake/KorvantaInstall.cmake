# What `cmake --install` adds around the library's own install rules, so that
# other projects find it like any platform library: a pkg-config file and a
# CMake package. Components: runtime, development, tools, python.
include(CMakePackageConfigHelpers)

set(KORVANTA_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KorvantaHardware)

install(EXPORT KorvantaHardwareTargets
  NAMESPACE Korvanta::
  FILE KorvantaHardwareTargets.cmake
  DESTINATION ${KORVANTA_CMAKE_PACKAGE_DIR}
  COMPONENT development
)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/KorvantaHardwareConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KorvantaHardwareConfig.cmake
  INSTALL_DESTINATION ${KORVANTA_CMAKE_PACKAGE_DIR}
)
# The soname carries the major version, so only the same major is compatible.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/KorvantaHardwareConfigVersion.cmake
  COMPATIBILITY SameMajorVersion
)
install(FILES
  ${PROJECT_BINARY_DIR}/KorvantaHardwareConfig.cmake
  ${PROJECT_BINARY_DIR}/KorvantaHardwareConfigVersion.cmake
  DESTINATION ${KORVANTA_CMAKE_PACKAGE_DIR}
  COMPONENT development
)

# The prefix is the configured one; for a tree installed elsewhere with
# --prefix, pkg-config --define-variable=prefix=DIR relocates it, as long as
# the directories are given relative to ${prefix}.
set(KORVANTA_PC_LIBDIR "\${exec_prefix}/${CMAKE_INSTALL_LIBDIR}")
set(KORVANTA_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KORVANTA_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KORVANTA_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/korvanta-hardware.pc.in ${PROJECT_BINARY_DIR}/korvanta-hardware.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvanta-hardware.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development
)

# On a robot: the korvanta group and the udev rule that lets it read the identity
# EEPROM. systemd and udev read these under the prefix's lib/, not its libdir.
install(FILES ${PROJECT_SOURCE_DIR}/hardware/system/korvanta-hardware.sysusers
  DESTINATION lib/sysusers.d
  RENAME korvanta-hardware.conf
  COMPONENT runtime
)
install(FILES ${PROJECT_SOURCE_DIR}/hardware/system/60-korvanta-eeprom.rules
  DESTINATION lib/udev/rules.d
  COMPONENT runtime
)

# Installed into the system, the library is found by programs only once the
# loader's cache knows it, as a package's ldconfig trigger would see to. Not when
# staging into DESTDIR, for another prefix or without root: the cache is the system's.
install(CODE [[
  execute_process(COMMAND id -u OUTPUT_VARIABLE korvanta_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if("$ENV{DESTDIR}" STREQUAL "" AND CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$" AND korvanta_uid STREQUAL "0")
    message(STATUS "Updating the loader cache: ldconfig")
    execute_process(COMMAND ldconfig RESULT_VARIABLE korvanta_failed)
    if(korvanta_failed)
      message(WARNING "ldconfig failed (${korvanta_failed}): run it before using the library")
    endif()
  endif()
]] COMPONENT runtime)

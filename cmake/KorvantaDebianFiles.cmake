# The files a Debian package carries beside its payload, from packaging/debian/:
#   copyright                     DEP-5, one for all: usr/share/doc/<package>/copyright
#   changelog                     one for all: usr/share/doc/<package>/changelog.Debian.gz
#   lintian-overrides             overrides for every package, each with its reason,
#   <component>/lintian-overrides   and those of one package: usr/share/lintian/overrides/<package>
#   <component>/<control file>    such as triggers: into that package's control member
# Written only when cpack makes Debian packages, which it says by setting
# KORVANTA_DEBIAN_FILES in its environment (cmake/KorvantaCPackProject.cmake):
# `cmake --install`, of a component too, leaves them out.
include_guard(GLOBAL)

set(KORVANTA_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(_korvanta_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian)
# Compressed as Debian wants it (-n: no name or time stamp, so builds repeat).
add_custom_command(OUTPUT ${_korvanta_changelog}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${KORVANTA_DEBIAN_DIR}/changelog ${_korvanta_changelog}
  COMMAND gzip -9nf ${_korvanta_changelog}
  DEPENDS ${KORVANTA_DEBIAN_DIR}/changelog
  VERBATIM)
add_custom_target(korvanta-debian-changelog ALL DEPENDS ${_korvanta_changelog}.gz)

# Call before include(CPack), once the component's package name is set.
function(korvanta_debian_package_files component)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(own ${KORVANTA_DEBIAN_DIR}/${component})
  set(overrides ${PROJECT_BINARY_DIR}/packaging/lintian-overrides/${package})
  set(text "")
  foreach(part IN ITEMS ${KORVANTA_DEBIAN_DIR}/lintian-overrides ${own}/lintian-overrides)
    if(EXISTS ${part})
      file(READ ${part} part_text)
      string(APPEND text "${part_text}")
      set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${part})
    endif()
  endforeach()
  file(CONFIGURE OUTPUT ${overrides} CONTENT "${text}" @ONLY)

  string(CONFIGURE [[
    if("$ENV{KORVANTA_DEBIAN_FILES}" STREQUAL "1")
      file(INSTALL "@KORVANTA_DEBIAN_DIR@/copyright" "@_korvanta_changelog@.gz"
           DESTINATION "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DATADIR@/doc/@package@")
      file(INSTALL "@overrides@" DESTINATION "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DATADIR@/lintian/overrides")
    endif()
  ]] code @ONLY)
  install(CODE "${code}" COMPONENT ${component})
  file(GLOB control LIST_DIRECTORIES false ${own}/*)
  list(REMOVE_ITEM control ${own}/lintian-overrides)
  set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA} ${control}
      PARENT_SCOPE)
endfunction()

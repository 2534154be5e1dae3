# Debian packages through CPack, one per install component:
#   libkorvanta-hardware3      runtime      the shared library
#   libkorvanta-hardware-dev   development  headers, .so link, pkg-config file, CMake package
#   korvanta-hwinfo            tools        the command-line tool
#   korvanta-sim               sim          simulated units for developers: korvanta-sim, its sandbox, example units
#   python3-korvanta-hardware  python       the module for the system python3's version, and its stub
#
# Packages put files exactly where `cmake --install` does, so build them from a
# tree configured for the system:
#   cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
#   cmake --build build-deb -j2 && (cd build-deb && cpack -G DEB)
# Each package also gets a copyright file, a changelog and whatever else
# packaging/debian/ holds for it (cmake/KorvantaDebianFiles.cmake).
set(CPACK_PACKAGE_NAME korvanta-hardware)
set(CPACK_PACKAGE_VENDOR Korvanta)
set(CPACK_PACKAGE_CONTACT "Korvanta hardware team <hardware@korvanta.invalid>")
# Empty, so that each package's description (below) starts with its own summary line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
# The Python module's directory is absolute; staging through DESTDIR keeps it in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(KORVANTA_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tools sim)
endif()
if(KORVANTA_BUILD_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()

# A cross build's packages are for the target: Debian's name for its
# architecture (CPack would take this machine's).
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(FATAL_ERROR "No Debian architecture for the target '${CMAKE_LIBRARY_ARCHITECTURE}' "
                        "(CMAKE_LIBRARY_ARCHITECTURE, set by the toolchain file); dpkg-architecture comes with dpkg-dev.")
  endif()
endif()

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries of the system from dpkg-shlibdeps; ours from the component dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps must find our library to look past it; the copy in the build tree will do.
get_target_property(KORVANTA_LIBRARY_BUILD_DIR korvanta-hardware BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${KORVANTA_LIBRARY_BUILD_DIR}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkorvanta-hardware${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file, so that packages built against the library depend on it. Written
# here rather than by CPack, whose switch would apply to every package and then
# complain about the Python module, which has no soname.
set(KORVANTA_SHLIBS "${PROJECT_BINARY_DIR}/packaging/shlibs")
file(CONFIGURE OUTPUT "${KORVANTA_SHLIBS}" CONTENT
  "libkorvanta-hardware ${PROJECT_VERSION_MAJOR} ${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} (>= ${PROJECT_VERSION})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${KORVANTA_SHLIBS}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Creates the korvanta group at once and applies the EEPROM's udev rule, without a reboot.
list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/hardware/system/postinst")
# Its Depends come from cmake/KorvantaCPackProject.cmake, which needs these.
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/KorvantaCPackProject.cmake")
set(CPACK_KORVANTA_LIBRARY "${KORVANTA_LIBRARY_BUILD_DIR}/libkorvanta-hardware.so.${PROJECT_VERSION}")
set(CPACK_KORVANTA_SHLIBDEPS_DIR "${PROJECT_BINARY_DIR}/packaging/shlibdeps")
# The library installs for several architectures side by side (arm64 and armhf
# on one board, say). CPack writes no Multi-Arch field; a script adds it.
set(CPACK_KORVANTA_MULTI_ARCH_SAME ${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/KorvantaMultiArchSame.cmake)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorvanta-hardware-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME korvanta-hwinfo)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)

set(CPACK_DEBIAN_SIM_PACKAGE_NAME korvanta-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
# The sandbox is a bash script around unshare(1) and mount(8); bash and util-linux
# (unshare, setpriv) are essential packages, which every system has.
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "mount")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-korvanta-hardware)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module loads into no other version than its own (that of the system's
# python3 when it is built, see cmake/KorvantaPython.cmake).
if(KORVANTA_BUILD_PYTHON)
  string(REGEX REPLACE "^3\\." "" python_minor ${KORVANTA_PYTHON_MAIN_VERSION})
  math(EXPR python_next_minor "${python_minor} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${KORVANTA_PYTHON_MAIN_VERSION}~), python3 (<< 3.${python_next_minor})")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KorvantaDebianFiles.cmake)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  korvanta_debian_package_files(${component})
endforeach()

include(CPack)

# Each description: a summary line of its own, then lines of at most 80 characters.
set(KORVANTA_ABOUT "libkorvanta-hardware tells software on a Korvanta robot unit who that unit is:
its robot and hardware identifiers, serial number, CPU serial, and status,
version and board-type codes, read from the identity EEPROM or from the
identity files under /etc/korvanta/. The robot identifier, serial number and
status can be written.")

cpack_add_component(runtime
  DISPLAY_NAME "Shared library"
  DESCRIPTION "identity of a Korvanta robot unit - shared library
${KORVANTA_ABOUT}

This package holds the shared library, libkorvanta-hardware.so.${PROJECT_VERSION_MAJOR}, and
the korvanta group with a udev rule that lets its members read the identity
EEPROM.")
cpack_add_component(development
  DISPLAY_NAME "Development files"
  DESCRIPTION "identity of a Korvanta robot unit - development files
${KORVANTA_ABOUT}

This package holds the headers of the C++ class interface and of the C
interface, the pkg-config file and the CMake package (Korvanta::hardware)."
  DEPENDS runtime)
cpack_add_component(tools
  DISPLAY_NAME "Command-line tool"
  DESCRIPTION "show and set the identity of a Korvanta robot unit
korvanta-hwinfo prints what libkorvanta-hardware reads on this unit, aligned,
as JSON or for Prometheus, and writes the robot identifier, serial number and
status, checking each write by reading the unit again. A systemd timer keeps
node_exporter's textfile collector fed, and an Ansible local fact gives the
same JSON."
  DEPENDS runtime)
cpack_add_component(sim
  DISPLAY_NAME "Simulated units"
  DESCRIPTION "run programs on simulated Korvanta robot units
korvanta-sim runs a program as if it were on the Korvanta unit that a small
JSON file describes: in a private mount namespace where that unit's EEPROM,
identity files and CPU serial are in place, so that software built on
libkorvanta-hardware can be tried on a laptop or in CI without touching this
machine. Example units are included."
  DEPENDS runtime)
cpack_add_component(python
  DISPLAY_NAME "Python module"
  DESCRIPTION "identity of a Korvanta robot unit - Python ${KORVANTA_PYTHON_MAIN_VERSION} module
${KORVANTA_ABOUT}

This package holds korvanta_hardware_module for CPython ${KORVANTA_PYTHON_MAIN_VERSION}, for systems
whose python3 is ${KORVANTA_PYTHON_MAIN_VERSION}."
  DEPENDS runtime)

# Debian packages through CPack, one per install component:
#   libkorvanta-hardware3      runtime      the shared library
#   libkorvanta-hardware-dev   development  headers, .so link, pkg-config file, CMake package
#   korvanta-hwinfo            tools        the command-line tool
#   korvanta-sim               sim          simulated units for developers: korvanta-sim, its sandbox, example units
#   python3-korvanta-hardware  python       the CPython 3.10 module and its stub
#
# Packages put files exactly where `cmake --install` does, so build them from a
# tree configured for the system:
#   cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
#         -DKORVANTA_PYTHON_INSTALL_DIR=/usr/lib/python3/dist-packages -DBUILD_TESTING=OFF
#   cmake --build build-deb -j2 && (cd build-deb && cpack -G DEB)
set(CPACK_PACKAGE_NAME korvanta-hardware)
set(CPACK_PACKAGE_VENDOR Korvanta)
set(CPACK_PACKAGE_CONTACT "Korvanta hardware team <hardware@korvanta.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
# The Python module's directory is absolute; staging through DESTDIR keeps it in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools sim)
if(KORVANTA_BUILD_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
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

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorvanta-hardware-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME korvanta-hwinfo)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)

set(CPACK_DEBIAN_SIM_PACKAGE_NAME korvanta-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
# The sandbox is a bash script around unshare(1) and mount(8).
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "bash, util-linux, mount")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-korvanta-hardware)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The module is built for CPython 3.10 and loads into no other version.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= 3.10~), python3 (<< 3.11)")

include(CPack)

cpack_add_component(runtime
  DISPLAY_NAME "Shared library"
  DESCRIPTION "libkorvanta-hardware.so.3: tells software on a Korvanta robot unit who that unit is.")
cpack_add_component(development
  DISPLAY_NAME "Development files"
  DESCRIPTION "Headers, pkg-config file and CMake package (Korvanta::hardware) of libkorvanta-hardware."
  DEPENDS runtime)
cpack_add_component(tools
  DISPLAY_NAME "Command-line tool"
  DESCRIPTION "korvanta-hwinfo: shows the identity of a Korvanta robot unit and writes its identifier, serial and status."
  DEPENDS runtime)
cpack_add_component(sim
  DISPLAY_NAME "Simulated units"
  DESCRIPTION "korvanta-sim: runs a program as if it were on a given Korvanta unit, in a private mount namespace."
  DEPENDS runtime)
cpack_add_component(python
  DISPLAY_NAME "Python module"
  DESCRIPTION "korvanta_hardware_module: libkorvanta-hardware for CPython 3.10."
  DEPENDS runtime)

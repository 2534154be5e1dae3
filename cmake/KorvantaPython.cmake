# CPython and pybind11 for the extension modules, one module file per CPython
# version (3.10, 3.11, ...).
#
#   korvanta_find_pythons(BUILT LEFT_OUT)      once, at the top: the versions the
#                                              modules are built for, and why others are not
#   korvanta_add_python_module(NAME VERSION SOURCES...)   target NAME-VERSION
#   korvanta_python_module_target(OUT NAME VERSION)       that target's name
#   korvanta_python_install_dir(OUT VERSION)   where that version's modules are installed
#   korvanta_find_python_interpreter(OUT 3.11) any interpreter of that version, or ""
#   korvanta_probe_python(INTERPRETER PREFIX)  what that interpreter is (PREFIX_VERSION, ...)
#
# KORVANTA_PYTHON_VERSIONS names the versions ("3.10;3.12"); when it is empty the
# module is built for 3.10 when one is found, else for the system's python3. The
# interpreter of version 3.Y is the cache variable KORVANTA_PYTHON3Y_EXECUTABLE
# (KORVANTA_PYTHON310_EXECUTABLE, ...). When it is empty the first of these that
# runs, is 3.Y and has Python.h is taken (the interpreter itself, past a pyenv
# shim): python3.Y on PATH, /usr/bin/python3.Y
# (Debian and Ubuntu: python3.Y-dev), /usr/local/bin/python3.Y, then pyenv's
# versions/3.Y.* under $PYENV_ROOT, `pyenv root` and ~/.pyenv, newest first.
# pyenv shims that are not active fail to run and are skipped.
include_guard(GLOBAL)

# Interpreters that may be Python ${version} ("3.10"), most preferred first.
function(_korvanta_python_candidates out version)
  set(candidates "")
  find_program(_korvanta_on_path NAMES python${version} NO_CACHE)
  if(_korvanta_on_path)
    list(APPEND candidates "${_korvanta_on_path}")
  endif()
  foreach(dir IN ITEMS /usr/bin /usr/local/bin)
    if(EXISTS "${dir}/python${version}")
      list(APPEND candidates "${dir}/python${version}")
    endif()
  endforeach()

  set(pyenv_roots "")
  if(DEFINED ENV{PYENV_ROOT})
    list(APPEND pyenv_roots "$ENV{PYENV_ROOT}")
  endif()
  find_program(_korvanta_pyenv NAMES pyenv HINTS "$ENV{PYENV_ROOT}/bin" "$ENV{HOME}/.pyenv/bin" NO_CACHE)
  if(_korvanta_pyenv)
    execute_process(COMMAND "${_korvanta_pyenv}" root OUTPUT_VARIABLE root
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(NOT failed AND root)
      list(APPEND pyenv_roots "${root}")
    endif()
  endif()
  if(DEFINED ENV{HOME})
    list(APPEND pyenv_roots "$ENV{HOME}/.pyenv")
  endif()
  list(REMOVE_DUPLICATES pyenv_roots)
  foreach(root IN LISTS pyenv_roots)
    file(GLOB installed LIST_DIRECTORIES true "${root}/versions/${version}.*")
    list(SORT installed COMPARE NATURAL ORDER DESCENDING)
    foreach(dir IN LISTS installed)
      if(EXISTS "${dir}/bin/python${version}")
        list(APPEND candidates "${dir}/bin/python${version}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES candidates)
  set(${out} "${candidates}" PARENT_SCOPE)
endfunction()

# Asks an interpreter about itself. Sets <prefix>_VERSION ("3.10.13", empty when
# it does not run), <prefix>_HEADERS (TRUE when its Python.h is installed),
# <prefix>_INCLUDE_DIR, <prefix>_EXT_SUFFIX (".cpython-310-x86_64-linux-gnu.so"),
# <prefix>_EXECUTABLE (the interpreter itself, past a pyenv shim) and
# <prefix>_DEBIAN (TRUE when it imports from dist-packages, as Debian's do).
function(korvanta_probe_python interpreter prefix)
  execute_process(
    COMMAND "${interpreter}" -c [[
import os, sys, sysconfig
include = sysconfig.get_path('include')
print('%d.%d.%d' % sys.version_info[:3])
print(os.path.isfile(os.path.join(include, 'Python.h')))
print(include)
print(sysconfig.get_config_var('EXT_SUFFIX'))
print(sys.executable)
print(any(p.endswith('dist-packages') for p in sys.path))
]]
    OUTPUT_VARIABLE output ERROR_QUIET RESULT_VARIABLE failed)
  foreach(field IN ITEMS VERSION HEADERS INCLUDE_DIR EXT_SUFFIX EXECUTABLE DEBIAN)
    set(${prefix}_${field} "" PARENT_SCOPE)
  endforeach()
  if(failed OR NOT output MATCHES "^([0-9]+\\.[0-9]+\\.[0-9]+)\n(True|False)\n([^\n]*)\n([^\n]*)\n([^\n]*)\n(True|False)\n$")
    return()
  endif()
  set(${prefix}_VERSION "${CMAKE_MATCH_1}" PARENT_SCOPE)
  set(${prefix}_HEADERS FALSE PARENT_SCOPE)
  if(CMAKE_MATCH_2 STREQUAL "True")
    set(${prefix}_HEADERS TRUE PARENT_SCOPE)
  endif()
  set(${prefix}_INCLUDE_DIR "${CMAKE_MATCH_3}" PARENT_SCOPE)
  set(${prefix}_EXT_SUFFIX "${CMAKE_MATCH_4}" PARENT_SCOPE)
  set(${prefix}_EXECUTABLE "${CMAKE_MATCH_5}" PARENT_SCOPE)
  set(${prefix}_DEBIAN FALSE PARENT_SCOPE)
  if(CMAKE_MATCH_6 STREQUAL "True")
    set(${prefix}_DEBIAN TRUE PARENT_SCOPE)
  endif()
endfunction()

function(korvanta_find_python_interpreter out version)
  _korvanta_python_candidates(candidates ${version})
  foreach(candidate IN LISTS candidates)
    korvanta_probe_python("${candidate}" probe)
    if(probe_VERSION MATCHES "^${version}\\.")
      set(${out} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# The cache variable that names the interpreter of a version: 3.10 -> KORVANTA_PYTHON310_EXECUTABLE.
function(_korvanta_python_variable out version)
  string(REPLACE "." "" digits "${version}")
  set(${out} KORVANTA_PYTHON${digits}_EXECUTABLE PARENT_SCOPE)
endfunction()

function(_korvanta_install_hint out version)
  _korvanta_python_variable(variable ${version})
  set(${out} "To build it, install CPython ${version} with its headers (Debian and Ubuntu: `apt-get install python${version}-dev`, or `pyenv install ${version}`) and configure again, or name one with -D${variable}=." PARENT_SCOPE)
endfunction()

# Sets KORVANTA_PYTHON3Y_EXECUTABLE when it is empty and a CPython ${version} with
# its headers is found; <out> is empty then, else it says what is missing. An
# interpreter named by the user must work: anything else is a fatal error.
function(_korvanta_choose_python out version)
  set(${out} "" PARENT_SCOPE)
  _korvanta_python_variable(variable ${version})
  _korvanta_install_hint(hint ${version})
  set(${variable} "" CACHE FILEPATH "CPython ${version} interpreter the Python modules are built for (found when empty)")
  string(REPLACE "." "\\." pattern "^${version}.")
  if(${variable})
    korvanta_probe_python("${${variable}}" chosen)
    if(NOT chosen_VERSION MATCHES "${pattern}")
      message(FATAL_ERROR "${variable}=${${variable}} is not a working Python ${version} with its headers. ${hint}")
    endif()
    if(NOT chosen_HEADERS)
      message(FATAL_ERROR "${${variable}} is Python ${chosen_VERSION} but its headers (Python.h) are missing. ${hint}")
    endif()
    return()
  endif()
  # The interpreters found here are this machine's, not the target's.
  if(CMAKE_CROSSCOMPILING)
    set(${out} "a cross build takes only the target's CPython ${version}, named by ${variable}" PARENT_SCOPE)
    return()
  endif()

  _korvanta_python_candidates(candidates ${version})
  set(headerless "")
  foreach(candidate IN LISTS candidates)
    korvanta_probe_python("${candidate}" probe)
    if(probe_VERSION MATCHES "${pattern}")
      if(probe_HEADERS)
        set(${variable} "${probe_EXECUTABLE}" CACHE FILEPATH
            "CPython ${version} interpreter the Python modules are built for" FORCE)
        return()
      endif()
      list(APPEND headerless "${candidate}")
    endif()
  endforeach()

  if(headerless)
    list(JOIN headerless ", " headerless)
    set(${out} "Python ${version} was found (${headerless}) but without its headers (Python.h)" PARENT_SCOPE)
  else()
    set(${out} "CPython ${version} was not found" PARENT_SCOPE)
  endif()
endfunction()

# Without 3.10 the default is the system's python3: <out> is the version it is,
# when it has its headers, else empty and <missing> says why. Its interpreter
# variable is set unless the user set it already.
function(_korvanta_system_python3 out missing)
  set(${out} "" PARENT_SCOPE)
  set(${missing} "no python3 was found either" PARENT_SCOPE)
  if(CMAKE_CROSSCOMPILING)
    set(${missing} "" PARENT_SCOPE)
    return()
  endif()
  find_program(_korvanta_python3 NAMES python3 NO_CACHE)
  foreach(candidate IN ITEMS "${_korvanta_python3}" /usr/bin/python3)
    if(candidate AND EXISTS "${candidate}")
      korvanta_probe_python("${candidate}" probe)
      if(probe_VERSION AND NOT probe_HEADERS)
        set(${missing} "the system's python3 (Python ${probe_VERSION}, ${probe_EXECUTABLE}) has no headers (Python.h): `apt-get install python3-dev`" PARENT_SCOPE)
      elseif(probe_VERSION MATCHES "^(3\\.[0-9]+)\\.")
        set(version ${CMAKE_MATCH_1})
        _korvanta_python_variable(variable ${version})
        if(NOT ${variable})
          set(${variable} "${probe_EXECUTABLE}" CACHE FILEPATH
              "CPython ${version} interpreter the Python modules are built for" FORCE)
        endif()
        message(STATUS "CPython 3.10 was not found: the Python module is built for the system's "
                       "python3, Python ${probe_VERSION} (${probe_EXECUTABLE})")
        set(${out} ${version} PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
endfunction()

# The CPython versions each pybind11 release supports, from its changelog:
# release, oldest CPython, newest CPython. A release takes the row of the newest
# release not newer than it; one older than the first row is refused.
set(_korvanta_pybind11_support
  2.9  3.5 3.10
  2.10 3.6 3.11
  2.11 3.6 3.12
  2.13 3.7 3.13
  3.0  3.8 3.14)

# <out> is empty when the pybind11 found supports CPython ${version}, else why not.
function(_korvanta_pybind11_supports out version)
  set(oldest "")
  set(newest "")
  set(rows ${_korvanta_pybind11_support})
  while(rows)
    list(POP_FRONT rows release row_oldest row_newest)
    if(NOT pybind11_VERSION VERSION_LESS release)
      set(oldest ${row_oldest})
      set(newest ${row_newest})
    endif()
  endwhile()
  if(version VERSION_LESS oldest OR version VERSION_GREATER newest)
    set(${out} "pybind11 ${pybind11_VERSION} supports CPython ${oldest} to ${newest}, not ${version}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# pybind11 itself, without its own search for Python: each module names its
# interpreter. <out> is empty when a pybind11 new enough is found, else why not.
# 2.9: the first with const_name, which the modules' own conversions use.
set(_korvanta_pybind11_floor 2.9)
macro(_korvanta_find_pybind11 out)
  set(PYBIND11_NOPYTHON ON)
  find_package(pybind11 ${_korvanta_pybind11_floor} CONFIG QUIET)
  set(${out} "")
  if(NOT pybind11_FOUND)
    if(pybind11_CONSIDERED_VERSIONS)
      list(JOIN pybind11_CONSIDERED_VERSIONS ", " _korvanta_found)
      list(JOIN pybind11_CONSIDERED_CONFIGS ", " _korvanta_configs)
      set(${out} "pybind11 ${_korvanta_found} was found (${_korvanta_configs}) but ${_korvanta_pybind11_floor} or newer is needed: install a newer one and name it with -Dpybind11_DIR=.")
    else()
      set(${out} "pybind11 (${_korvanta_pybind11_floor} or newer) was not found: `apt-get install pybind11-dev`.")
    endif()
  endif()
endmacro()

# Where the modules for CPython <version> go, relative to the install prefix:
# KORVANTA_PYTHON_INSTALL_DIR when it is set, else the layout that version's
# interpreter imports from. Debian's own python3 looks in lib/python3/dist-packages
# under /usr and in lib/python3.Y/dist-packages under any other prefix (such as
# /usr/local); other builds of CPython in lib/python3.Y/site-packages.
function(korvanta_python_install_dir out version)
  set(KORVANTA_PYTHON_INSTALL_DIR "" CACHE STRING
      "Where the Python modules are installed, relative to the install prefix or absolute (empty: where each interpreter imports from)")
  if(KORVANTA_PYTHON_INSTALL_DIR)
    set(${out} "${KORVANTA_PYTHON_INSTALL_DIR}" PARENT_SCOPE)
    return()
  endif()
  _korvanta_python_variable(variable ${version})
  korvanta_probe_python("${${variable}}" python)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND (python_DEBIAN OR EXISTS /etc/debian_version))
    set(${out} lib/python3/dist-packages PARENT_SCOPE)
  elseif(python_DEBIAN)
    set(${out} lib/python${version}/dist-packages PARENT_SCOPE)
  else()
    set(${out} lib/python${version}/site-packages PARENT_SCOPE)
  endif()
endfunction()

# Sets <built> to the versions the modules are built for, each with its
# interpreter, headers and a pybind11 that supports it, and <left_out> to why the
# others named are not (empty when none is). Sets KORVANTA_PYTHON_MAIN_VERSION:
# the system python3's version when it is built, else the first built; the
# Python package and the tools' tests take that one. A macro, called from the
# top directory: the imported targets of find_package() belong to the calling
# directory and those below it.
macro(korvanta_find_pythons built left_out)
  set(KORVANTA_PYTHON_VERSIONS "" CACHE STRING
      "CPython versions to build the Python module for, such as 3.10;3.12 (empty: 3.10, else the system's python3)")
  set(${built} "")
  set(${left_out} "")
  set(_korvanta_versions "${KORVANTA_PYTHON_VERSIONS}")
  if(NOT _korvanta_versions)
    set(_korvanta_versions 3.10)
    if(NOT KORVANTA_PYTHON310_EXECUTABLE)
      _korvanta_choose_python(_korvanta_missing 3.10)
      if(_korvanta_missing)
        _korvanta_system_python3(_korvanta_versions _korvanta_no_python3)
        if(NOT _korvanta_versions)
          set(_korvanta_versions 3.10)
          if(_korvanta_no_python3)
            list(APPEND ${left_out} "python3: ${_korvanta_no_python3}")
          endif()
        endif()
      endif()
    endif()
  endif()
  _korvanta_find_pybind11(_korvanta_no_pybind11)
  foreach(_korvanta_version IN LISTS _korvanta_versions)
    if(NOT _korvanta_version MATCHES "^3\\.[0-9]+$")
      message(FATAL_ERROR "KORVANTA_PYTHON_VERSIONS: '${_korvanta_version}' is not a CPython version such as 3.12")
    endif()
    # pybind11 first: no interpreter is looked for where it could not be used.
    set(_korvanta_missing "${_korvanta_no_pybind11}")
    if(NOT _korvanta_missing)
      _korvanta_pybind11_supports(_korvanta_missing ${_korvanta_version})
    endif()
    if(NOT _korvanta_missing)
      _korvanta_choose_python(_korvanta_missing ${_korvanta_version})
      if(_korvanta_missing)
        _korvanta_install_hint(_korvanta_hint ${_korvanta_version})
        string(APPEND _korvanta_missing ". ${_korvanta_hint}")
      endif()
    endif()
    if(_korvanta_missing)
      list(APPEND ${left_out} "Python ${_korvanta_version}: ${_korvanta_missing}")
    else()
      list(APPEND ${built} ${_korvanta_version})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES ${built})

  set(KORVANTA_PYTHON_MAIN_VERSION "")
  if(${built})
    list(GET ${built} 0 KORVANTA_PYTHON_MAIN_VERSION)
    korvanta_probe_python(/usr/bin/python3 _korvanta_system)
    if(NOT CMAKE_CROSSCOMPILING AND _korvanta_system_VERSION MATCHES "^(3\\.[0-9]+)\\." AND CMAKE_MATCH_1 IN_LIST ${built})
      set(KORVANTA_PYTHON_MAIN_VERSION ${CMAKE_MATCH_1})
    endif()
    _korvanta_python_variable(_korvanta_variable ${KORVANTA_PYTHON_MAIN_VERSION})
    set(KORVANTA_PYTHON_MAIN_EXECUTABLE "${${_korvanta_variable}}")
  endif()
endmacro()

# The target of module <name> for one version: korvanta_hardware_module-3.12.
function(korvanta_python_module_target out name version)
  set(${out} ${name}-${version} PARENT_SCOPE)
endfunction()

# A module for CPython <version>, file <name><EXT_SUFFIX> in the build subdirectory
# <version>, that exports nothing but PyInit_<name>, and finds libkorvanta-hardware
# in the build tree and, once installed, in the libdir.
function(korvanta_add_python_module name version)
  _korvanta_python_variable(variable ${version})
  korvanta_probe_python("${${variable}}" python)
  korvanta_python_module_target(target ${name} ${version})
  add_library(${target} MODULE ${ARGN})
  target_include_directories(${target} SYSTEM PRIVATE "${python_INCLUDE_DIR}")
  target_link_libraries(${target} PRIVATE pybind11::module korvanta_warnings_and_sanitizers)
  # Hidden, as pybind11 requires: modules built with other pybind11 versions must not meet ours.
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name} PREFIX "" SUFFIX "${python_EXT_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/${version}"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # pybind11's own choices for a module: its link-time optimisation, and no
  # symbols where the build type keeps none.
  if(NOT DEFINED CMAKE_INTERPROCEDURAL_OPTIMIZATION)
    target_link_libraries(${target} PRIVATE pybind11::lto)
  endif()
  string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
  if(NOT build_type MATCHES "DEBUG|RELWITHDEBINFO")
    pybind11_strip(${target})
  endif()

  set(exports "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports")
  file(CONFIGURE OUTPUT "${exports}" CONTENT "{\n  global: PyInit_${name};\n  local: *;\n};\n")
  target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${exports}")

  if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  endif()

endfunction()

# CPython 3.10 and pybind11 for the extension modules.
#
#   korvanta_find_python310()                  in every directory that builds a module
#   korvanta_add_python310_module(NAME SOURCES...)
#   korvanta_find_python_interpreter(OUT 3.11) any interpreter of that version, or ""
#
# The interpreter is the cache variable KORVANTA_PYTHON310_EXECUTABLE. When it is
# empty the first of these that runs, is 3.10 and has Python.h is taken:
# python3.10 on PATH, /usr/bin/python3.10 (Debian and Ubuntu: python3.10-dev),
# /usr/local/bin/python3.10, then pyenv's versions/3.10.* under $PYENV_ROOT,
# `pyenv root` and ~/.pyenv, newest first. pyenv shims that are not active
# fail to run and are skipped.
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

# Sets <prefix>_VERSION ("3.10.13", empty when it does not run) and
# <prefix>_HEADERS (TRUE when its Python.h is installed).
function(_korvanta_probe_python interpreter prefix)
  execute_process(
    COMMAND "${interpreter}" -c
      "import os, sys, sysconfig; print('%d.%d.%d' % sys.version_info[:3]); print(os.path.isfile(os.path.join(sysconfig.get_path('include'), 'Python.h')))"
    OUTPUT_VARIABLE output ERROR_QUIET RESULT_VARIABLE failed)
  set(version "")
  set(headers FALSE)
  if(NOT failed AND output MATCHES "^([0-9]+\\.[0-9]+\\.[0-9]+)\n(True|False)")
    set(version "${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_2 STREQUAL "True")
      set(headers TRUE)
    endif()
  endif()
  set(${prefix}_VERSION "${version}" PARENT_SCOPE)
  set(${prefix}_HEADERS ${headers} PARENT_SCOPE)
endfunction()

function(korvanta_find_python_interpreter out version)
  _korvanta_python_candidates(candidates ${version})
  foreach(candidate IN LISTS candidates)
    _korvanta_probe_python("${candidate}" probe)
    if(probe_VERSION MATCHES "^${version}\\.")
      set(${out} "${candidate}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

set(_korvanta_install_hint
  "Install CPython 3.10 with its headers: on Ubuntu 22.04 `apt-get install python3.10-dev`, "
  "with pyenv `pyenv install 3.10`. Or set KORVANTA_PYTHON310_EXECUTABLE to a python3.10 "
  "that has its headers, or configure with -DKORVANTA_BUILD_PYTHON=OFF.")
string(CONCAT _korvanta_install_hint ${_korvanta_install_hint})

function(_korvanta_choose_python310)
  if(KORVANTA_PYTHON310_EXECUTABLE)
    _korvanta_probe_python("${KORVANTA_PYTHON310_EXECUTABLE}" chosen)
    if(NOT chosen_VERSION MATCHES "^3\\.10\\.")
      message(FATAL_ERROR "KORVANTA_PYTHON310_EXECUTABLE=${KORVANTA_PYTHON310_EXECUTABLE} "
                          "is not a working Python 3.10. ${_korvanta_install_hint}")
    endif()
    if(NOT chosen_HEADERS)
      message(FATAL_ERROR "${KORVANTA_PYTHON310_EXECUTABLE} is Python ${chosen_VERSION} but its "
                          "headers (Python.h) are missing. ${_korvanta_install_hint}")
    endif()
    return()
  endif()
  # The interpreters found here are this machine's, not the target's.
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "A cross build's Python module needs the target's CPython 3.10 with its "
                        "headers: set KORVANTA_PYTHON310_EXECUTABLE to it, or configure with "
                        "-DKORVANTA_BUILD_PYTHON=OFF.")
  endif()

  _korvanta_python_candidates(candidates 3.10)
  set(headerless "")
  foreach(candidate IN LISTS candidates)
    _korvanta_probe_python("${candidate}" probe)
    if(probe_VERSION MATCHES "^3\\.10\\.")
      if(probe_HEADERS)
        set(KORVANTA_PYTHON310_EXECUTABLE "${candidate}" CACHE FILEPATH
            "CPython 3.10 interpreter the Python modules are built for" FORCE)
        return()
      endif()
      list(APPEND headerless "${candidate}")
    endif()
  endforeach()

  if(headerless)
    list(JOIN headerless ", " headerless)
    message(FATAL_ERROR "Python 3.10 was found (${headerless}) but without its headers "
                        "(Python.h). ${_korvanta_install_hint}")
  endif()
  message(FATAL_ERROR "CPython 3.10 was not found. ${_korvanta_install_hint}")
endfunction()

# Where the chosen interpreter imports installed modules from.
function(_korvanta_python310_site_packages out)
  execute_process(
    COMMAND "${KORVANTA_PYTHON310_EXECUTABLE}" -c [[
import os, site, sys, sysconfig
on_path = {os.path.realpath(p) for p in sys.path if p}
platlib = sysconfig.get_path('platlib')
if os.path.realpath(platlib) not in on_path:
    platlib = next((p for p in site.getsitepackages() if os.path.realpath(p) in on_path), platlib)
print(platlib)
]]
    OUTPUT_VARIABLE site_packages OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT site_packages)
    message(FATAL_ERROR "Cannot ask ${KORVANTA_PYTHON310_EXECUTABLE} for its site-packages; "
                        "set KORVANTA_PYTHON_INSTALL_DIR.")
  endif()
  set(${out} "${site_packages}" PARENT_SCOPE)
endfunction()

# A macro: the imported targets of find_package() belong to the calling directory.
macro(korvanta_find_python310)
  set(KORVANTA_PYTHON310_EXECUTABLE "" CACHE FILEPATH
      "CPython 3.10 interpreter the Python modules are built for (found when empty)")
  _korvanta_choose_python310()
  set(Python_EXECUTABLE "${KORVANTA_PYTHON310_EXECUTABLE}")
  get_property(_korvanta_python_reported GLOBAL PROPERTY KORVANTA_PYTHON310_REPORTED)
  if(_korvanta_python_reported)
    find_package(Python 3.10 EXACT REQUIRED QUIET COMPONENTS Interpreter Development.Module)
  else()
    find_package(Python 3.10 EXACT REQUIRED COMPONENTS Interpreter Development.Module)
    set_property(GLOBAL PROPERTY KORVANTA_PYTHON310_REPORTED TRUE)
  endif()
  find_package(pybind11 2.10 CONFIG QUIET)
  if(NOT pybind11_FOUND)
    message(FATAL_ERROR "pybind11 (2.10 or newer) was not found: `apt-get install pybind11-dev`, "
                        "or configure with -DKORVANTA_BUILD_PYTHON=OFF.")
  endif()
  if(NOT DEFINED CACHE{KORVANTA_PYTHON_INSTALL_DIR})
    _korvanta_python310_site_packages(_korvanta_site_packages)
    set(KORVANTA_PYTHON_INSTALL_DIR "${_korvanta_site_packages}" CACHE PATH
        "Where the Python module is installed (default: the site-packages of KORVANTA_PYTHON310_EXECUTABLE)")
  endif()
endmacro()

# A pybind11 module that exports nothing but PyInit_<name>, and finds
# libkorvanta-hardware in the build tree and, once installed, in the libdir.
function(korvanta_add_python310_module name)
  pybind11_add_module(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE korvanta_warnings)

  set(exports "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports")
  file(CONFIGURE OUTPUT "${exports}" CONTENT "{\n  global: PyInit_${name};\n  local: *;\n};\n")
  target_link_options(${name} PRIVATE "LINKER:--version-script=${exports}")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${exports}")

  if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  endif()
endfunction()

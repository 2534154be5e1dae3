# CPython 3.10 and pybind11 for the extension modules.
#
#   korvanta_find_python310(AVAILABLE)         once, at the top: TRUE, or what is missing
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

string(CONCAT _korvanta_install_hint
  "To build it, install CPython 3.10 with its headers (Ubuntu 22.04: `apt-get install python3.10-dev`, "
  "or `pyenv install 3.10`) and configure again, or name one with -DKORVANTA_PYTHON310_EXECUTABLE=.")

# Sets KORVANTA_PYTHON310_EXECUTABLE when it is empty and a CPython 3.10 with its
# headers is found; <out> is empty then, else it says what is missing. An
# interpreter named by the user must work: anything else is a fatal error.
function(_korvanta_choose_python310 out)
  set(${out} "" PARENT_SCOPE)
  if(KORVANTA_PYTHON310_EXECUTABLE)
    _korvanta_probe_python("${KORVANTA_PYTHON310_EXECUTABLE}" chosen)
    if(NOT chosen_VERSION MATCHES "^3\\.10\\.")
      message(FATAL_ERROR "KORVANTA_PYTHON310_EXECUTABLE=${KORVANTA_PYTHON310_EXECUTABLE} "
                          "is not a working Python 3.10 with its headers. ${_korvanta_install_hint}")
    endif()
    if(NOT chosen_HEADERS)
      message(FATAL_ERROR "${KORVANTA_PYTHON310_EXECUTABLE} is Python ${chosen_VERSION} but its "
                          "headers (Python.h) are missing. ${_korvanta_install_hint}")
    endif()
    return()
  endif()
  # The interpreters found here are this machine's, not the target's.
  if(CMAKE_CROSSCOMPILING)
    set(${out} "a cross build takes only the target's CPython 3.10, named by KORVANTA_PYTHON310_EXECUTABLE"
        PARENT_SCOPE)
    return()
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
    set(${out} "Python 3.10 was found (${headerless}) but without its headers (Python.h)" PARENT_SCOPE)
  else()
    set(${out} "CPython 3.10 was not found" PARENT_SCOPE)
  endif()
endfunction()

# Where the module goes, relative to the install prefix: the layout the
# interpreter imports from. Debian's own python3 looks in lib/python3/dist-packages
# under /usr and in lib/python3.10/dist-packages under any other prefix (such as
# /usr/local); other builds of CPython in lib/python3.10/site-packages.
function(_korvanta_python310_install_dir out)
  execute_process(
    COMMAND "${KORVANTA_PYTHON310_EXECUTABLE}" -c
      "import sys; print(any(p.endswith('dist-packages') for p in sys.path))"
    OUTPUT_VARIABLE debian_python OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND (debian_python STREQUAL "True" OR EXISTS /etc/debian_version))
    set(${out} lib/python3/dist-packages PARENT_SCOPE)
  elseif(debian_python STREQUAL "True")
    set(${out} lib/python3.10/dist-packages PARENT_SCOPE)
  else()
    set(${out} lib/python3.10/site-packages PARENT_SCOPE)
  endif()
endfunction()

# Sets <available> to TRUE when the module can be built, else to what is missing
# and how to get it. A macro, called from the top directory: the imported
# targets of find_package() belong to the calling directory and those below it.
macro(korvanta_find_python310 available)
  set(KORVANTA_PYTHON310_EXECUTABLE "" CACHE FILEPATH
      "CPython 3.10 interpreter the Python modules are built for (found when empty)")
  _korvanta_choose_python310(_korvanta_python_missing)
  if(NOT _korvanta_python_missing)
    set(Python_EXECUTABLE "${KORVANTA_PYTHON310_EXECUTABLE}")
    find_package(Python 3.10 EXACT COMPONENTS Interpreter Development.Module)
    if(NOT Python_FOUND)
      set(_korvanta_python_missing "CMake's FindPython did not accept ${KORVANTA_PYTHON310_EXECUTABLE}")
    endif()
  endif()
  if(_korvanta_python_missing)
    set(${available} "${_korvanta_python_missing}. ${_korvanta_install_hint}")
  else()
    find_package(pybind11 2.10 CONFIG QUIET)
    if(pybind11_FOUND)
      set(${available} TRUE)
    else()
      set(${available} "pybind11 (2.10 or newer) was not found: `apt-get install pybind11-dev`.")
    endif()
  endif()
  if(${available} STREQUAL "TRUE" AND NOT DEFINED CACHE{KORVANTA_PYTHON_INSTALL_DIR})
    _korvanta_python310_install_dir(_korvanta_python_dir)
    set(KORVANTA_PYTHON_INSTALL_DIR "${_korvanta_python_dir}" CACHE STRING
        "Where the Python module is installed: relative to the install prefix, or absolute")
  endif()
endmacro()

# A pybind11 module that exports nothing but PyInit_<name>, and finds
# libkorvanta-hardware in the build tree and, once installed, in the libdir.
function(korvanta_add_python310_module name)
  pybind11_add_module(${name} MODULE ${ARGN})
  target_link_libraries(${name} PRIVATE korvanta_warnings_and_sanitizers)

  set(exports "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports")
  file(CONFIGURE OUTPUT "${exports}" CONTENT "{\n  global: PyInit_${name};\n  local: *;\n};\n")
  target_link_options(${name} PRIVATE "LINKER:--version-script=${exports}")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${exports}")

  if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  endif()
endfunction()

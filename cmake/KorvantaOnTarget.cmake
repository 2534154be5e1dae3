# Starting this build's programs from tests: on this machine directly, or, for
# a cross build, through CMAKE_CROSSCOMPILING_EMULATOR (qemu-user, set by the
# toolchain files in cmake/toolchains/), so that no binfmt set-up is needed.
#
#   korvanta_sandboxed_command(OUT TARGET [PRELOAD LIBRARY_TARGET])
#       the command that runs TARGET on a simulated unit (sim/fixture/korvanta-sandbox),
#       with LIBRARY_TARGET preloaded into TARGET alone, never into the host's
#       tools that the sandbox runs first
#   korvanta_program_path(OUT TARGET)
#       a path that runs TARGET when a test program or a shell executes it
#   KORVANTA_TARGET_ENVIRONMENT
#       for tests that build and run programs for the target: CC, the
#       toolchain file, the emulator (KORVANTA_EMULATOR, words; empty here),
#       and the same for korvanta-sim, which the sandbox starts
#       (KORVANTA_SANDBOX_EMULATOR)
include_guard(GLOBAL)

function(korvanta_sandboxed_command out target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "PRELOAD" "")
  set(command ${KORVANTA_SANDBOX})
  if(arg_PRELOAD)
    # qemu-user sets QEMU_SET_ENV's variables in the emulated program only.
    set(variable LD_PRELOAD)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
      set(variable QEMU_SET_ENV=LD_PRELOAD)
    endif()
    list(APPEND command env ${variable}=$<TARGET_FILE:${arg_PRELOAD}>)
  endif()
  list(APPEND command ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}>)
  set(${out} "${command}" PARENT_SCOPE)
endfunction()

# Under emulation a small script beside the build's programs starts the program
# through the emulator: made once per target, whichever directory asks first.
function(korvanta_program_path out target)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(${out} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
    return()
  endif()
  set(script "${PROJECT_BINARY_DIR}/on-target/${target}")
  get_property(made GLOBAL PROPERTY KORVANTA_ON_TARGET_SCRIPTS)
  if(NOT target IN_LIST made)
    set(words "")
    foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR ITEMS "$<TARGET_FILE:${target}>")
      string(APPEND words "'${word}' ")
    endforeach()
    file(GENERATE OUTPUT "${script}" CONTENT "#!/bin/sh\nexec ${words}\"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set_property(GLOBAL APPEND PROPERTY KORVANTA_ON_TARGET_SCRIPTS ${target})
  endif()
  set(${out} "${script}" PARENT_SCOPE)
endfunction()

# CMake keeps the toolchain file it loaded as an absolute path.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _korvanta_emulator_words)
set(KORVANTA_TARGET_ENVIRONMENT
  "CC=${CMAKE_C_COMPILER}"
  "KORVANTA_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}"
  "KORVANTA_EMULATOR=${_korvanta_emulator_words}"
  "KORVANTA_SANDBOX_EMULATOR=${_korvanta_emulator_words}")

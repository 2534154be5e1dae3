# Manual pages made by help2man from each program's own --help, so that the two
# cannot drift apart. Left out, saying so, where help2man is missing or the
# programs cannot run here (a cross build without CMAKE_CROSSCOMPILING_EMULATOR).
#
#   korvanta_add_man_page(NAME SUMMARY COMPONENT TARGET target)   a program we build
#   korvanta_add_man_page(NAME SUMMARY COMPONENT PROGRAM path)    a script
include_guard(GLOBAL)

find_program(KORVANTA_HELP2MAN help2man)
set(_korvanta_man_pages_missing "")
if(NOT KORVANTA_HELP2MAN)
  set(_korvanta_man_pages_missing "help2man was not found (`apt-get install help2man`)")
elseif(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(_korvanta_man_pages_missing "the programs built cannot run here (set CMAKE_CROSSCOMPILING_EMULATOR)")
endif()
if(_korvanta_man_pages_missing)
  message(STATUS "Manual pages left out: ${_korvanta_man_pages_missing}")
endif()

function(korvanta_add_man_page name summary component)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "TARGET;PROGRAM" "")
  if(_korvanta_man_pages_missing)
    return()
  endif()
  set(program "${arg_PROGRAM}")
  set(depends "${arg_PROGRAM}")
  if(arg_TARGET)
    set(program "$<TARGET_FILE:${arg_TARGET}>")
    set(depends ${arg_TARGET})
    if(CMAKE_CROSSCOMPILING)
      # help2man runs one file; this one runs the program in the emulator.
      set(program "${CMAKE_CURRENT_BINARY_DIR}/man-wrapper/${name}")
      list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
      file(GENERATE OUTPUT "${program}" CONTENT "#!/bin/sh\nexec ${emulator} $<TARGET_FILE:${arg_TARGET}> \"$@\"\n"
           FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    endif()
  endif()
  set(page "${CMAKE_CURRENT_BINARY_DIR}/${name}.1")
  # Compressed as Debian wants it (-n: no name or time stamp, so builds repeat).
  add_custom_command(OUTPUT "${page}.gz"
    COMMAND "${KORVANTA_HELP2MAN}" --no-info --section=1 "--name=${summary}"
            "--version-string=${PROJECT_VERSION}" "--output=${page}" "${program}"
    COMMAND gzip -9nf "${page}"
    DEPENDS ${depends}
    COMMENT "Manual page ${name}(1) from ${name} --help"
    VERBATIM)
  add_custom_target(${name}-man-page ALL DEPENDS "${page}.gz")
  install(FILES "${page}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

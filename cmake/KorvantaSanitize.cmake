# Sanitizer builds: -DKORVANTA_SANITIZE=address,undefined or =thread puts the
# runtime checks into every target of ours. They reach each target through the
# flags target that all of them link, so no global flags are touched. Any error
# stops the program at once instead of scrolling past in a log.
#
#   korvanta_sanitize(FLAGS_TARGET)   the sanitizers, if any, for whatever links FLAGS_TARGET
#
# A target that cannot carry a sanitizer runtime sets KORVANTA_NO_SANITIZE.
include_guard(GLOBAL)

set(KORVANTA_SANITIZE "" CACHE STRING "Sanitizers for our own targets, e.g. address,undefined or thread (empty: none)")
if(KORVANTA_SANITIZE)
  message(STATUS "Sanitizers for our targets: ${KORVANTA_SANITIZE}")
endif()

function(korvanta_sanitize flags_target)
  if(NOT KORVANTA_SANITIZE)
    return()
  endif()
  set(wanted "$<NOT:$<BOOL:$<TARGET_PROPERTY:KORVANTA_NO_SANITIZE>>>")
  set(flags -fsanitize=${KORVANTA_SANITIZE} -fno-sanitize-recover=all)
  target_compile_options(${flags_target} INTERFACE "$<${wanted}:${flags};-fno-omit-frame-pointer;-g>")
  target_link_options(${flags_target} INTERFACE "$<${wanted}:${flags}>")
endfunction()

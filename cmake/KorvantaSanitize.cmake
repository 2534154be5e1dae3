# Sanitizer builds: -DKORVANTA_SANITIZE=address,undefined or =thread puts the
# runtime checks into every target of ours. They reach each target through
# korvanta_warnings, which every target links, so no global flags are touched.
# Any error stops the program at once instead of scrolling past in a log.
#
# A target that cannot carry a sanitizer runtime sets KORVANTA_NO_SANITIZE.
set(KORVANTA_SANITIZE "" CACHE STRING "Sanitizers for our own targets, e.g. address,undefined or thread (empty: none)")

add_library(korvanta_sanitize INTERFACE)
if(KORVANTA_SANITIZE)
  set(korvanta_sanitize_wanted "$<NOT:$<BOOL:$<TARGET_PROPERTY:KORVANTA_NO_SANITIZE>>>")
  set(korvanta_sanitize_flags -fsanitize=${KORVANTA_SANITIZE} -fno-sanitize-recover=all)
  target_compile_options(korvanta_sanitize INTERFACE
    "$<${korvanta_sanitize_wanted}:${korvanta_sanitize_flags};-fno-omit-frame-pointer;-g>")
  target_link_options(korvanta_sanitize INTERFACE "$<${korvanta_sanitize_wanted}:${korvanta_sanitize_flags}>")
  message(STATUS "Sanitizers for our targets: ${KORVANTA_SANITIZE}")
endif()
target_link_libraries(korvanta_warnings INTERFACE korvanta_sanitize)

# The at24 guest is linked statically, which no sanitizer runtime allows. The
# EEPROM transfer counter is preloaded into test programs ahead of their own
# sanitizer runtime; it must not bring a second one.
foreach(target IN ITEMS korvanta-at24-guest korvanta-eeprom-io-counter)
  if(TARGET ${target})
    set_property(TARGET ${target} PROPERTY KORVANTA_NO_SANITIZE ON)
  endif()
endforeach()

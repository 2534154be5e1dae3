# 32-bit x86 (Debian i386). An x86-64 kernel runs its programs itself.
set(KORVANTA_TRIPLET i686-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORVANTA_QEMU "")
if(NOT CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64|i[3-6]86)$")
  set(KORVANTA_QEMU qemu-i386)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)

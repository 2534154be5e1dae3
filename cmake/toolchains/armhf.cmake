# Older 32-bit ARM boards (Debian armhf: ARMv7, hard float).
set(KORVANTA_TRIPLET arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(KORVANTA_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)

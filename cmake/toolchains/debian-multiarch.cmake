# Shared by the toolchain files beside it: Debian's cross compiler for
# KORVANTA_TRIPLET, the target's libraries from Debian's multiarch
# (/usr/lib/<multiarch>, headers in /usr/include) and, when this machine cannot
# run the target's programs itself, qemu-user for the tests. qemu-user finds
# the target's loader and libraries where multiarch put them, so no binfmt
# set-up is needed. .ci/cross installs all of it.
#
# Set before including: KORVANTA_TRIPLET (the compilers' prefix),
# CMAKE_LIBRARY_ARCHITECTURE (Debian's multiarch name: find_package and
# find_library look in lib/<it>, installs on /usr and the packages put the
# library there), CMAKE_SYSTEM_PROCESSOR and KORVANTA_QEMU (empty when this
# machine runs the target's programs itself, which then sets
# KORVANTA_TARGET_RUNS_HERE).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KORVANTA_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KORVANTA_TRIPLET}-g++)
if(KORVANTA_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANTA_QEMU})
else()
  set(KORVANTA_TARGET_RUNS_HERE TRUE)
endif()

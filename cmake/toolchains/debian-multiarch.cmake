# Shared by the toolchain files beside it: Debian's cross compiler for
# KORVANTA_TRIPLET, the target's libraries from Debian's multiarch
# (/usr/lib/<triplet>, headers in /usr/include) and, when this machine cannot
# run the target's programs itself, qemu-user for the tests. qemu-user finds
# the target's loader and libraries where multiarch put them, so no binfmt
# set-up is needed. .ci/cross installs all of it.
#
# Set before including: KORVANTA_TRIPLET, CMAKE_SYSTEM_PROCESSOR, KORVANTA_QEMU
# (empty when the target's programs run here natively).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KORVANTA_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KORVANTA_TRIPLET}-g++)
# find_package and find_library look in lib/<triplet>; installs on /usr and
# the Debian packages use it as their library folder.
set(CMAKE_LIBRARY_ARCHITECTURE ${KORVANTA_TRIPLET})
if(KORVANTA_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANTA_QEMU})
endif()

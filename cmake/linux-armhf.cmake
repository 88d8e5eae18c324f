# Cross-builds for 32-bit ARM with hardware floating point: Raspberry Pi OS (32-bit), ARMv7 boards.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(PTMOVE_TRIPLET arm-linux-gnueabihf)
set(PTMOVE_QEMU arm)
set(PTMOVE_32_BIT 1)
# The architecture's name in Debian's packages and in the release tarballs.
set(PTMOVE_DEBIAN_ARCH armhf)
set(PTMOVE_RELEASE_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

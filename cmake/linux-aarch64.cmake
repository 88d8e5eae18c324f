# Cross-builds for 64-bit ARM: Raspberry Pi 3, 4 and 5 with a 64-bit system.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PTMOVE_TRIPLET aarch64-linux-gnu)
set(PTMOVE_QEMU aarch64)
set(PTMOVE_32_BIT 0)
# The architecture's name in Debian's packages and in the release tarballs.
set(PTMOVE_DEBIAN_ARCH arm64)
set(PTMOVE_RELEASE_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

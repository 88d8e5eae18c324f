# Cross-builds for 32-bit little-endian MIPS camera boards.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(PTMOVE_TRIPLET mipsel-linux-gnu)
set(PTMOVE_QEMU mipsel)
set(PTMOVE_32_BIT 1)
# The architecture's name in Debian's packages and in the release tarballs.
set(PTMOVE_DEBIAN_ARCH mipsel)
set(PTMOVE_RELEASE_ARCH mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

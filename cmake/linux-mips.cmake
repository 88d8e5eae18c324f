# Cross-builds for 32-bit big-endian MIPS camera boards.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(PTMOVE_TRIPLET mips-linux-gnu)
set(PTMOVE_QEMU mips)
set(PTMOVE_32_BIT 1)
# The architecture's name in Debian's packages and in the release tarballs.
set(PTMOVE_DEBIAN_ARCH mips)
set(PTMOVE_RELEASE_ARCH mips)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Cross-builds for 32-bit little-endian MIPS camera boards.
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(PTMOVE_TRIPLET mipsel-linux-gnu)
set(PTMOVE_QEMU mipsel)
set(PTMOVE_32_BIT 1)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

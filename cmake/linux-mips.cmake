# Cross-builds for 32-bit big-endian MIPS camera boards.
set(CMAKE_SYSTEM_PROCESSOR mips)
set(PTMOVE_TRIPLET mips-linux-gnu)
set(PTMOVE_QEMU mips)
set(PTMOVE_32_BIT 1)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# What the Linux cross-builds share: Debian's cross compiler for
# PTMOVE_TRIPLET, the target's libraries under /usr/<triplet>, and qemu-user
# to run the target's programs (the tests, and the programs they start).
# Included by the toolchain file of each target.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PTMOVE_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PTMOVE_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${PTMOVE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${PTMOVE_QEMU}-static -L /usr/${PTMOVE_TRIPLET})

if(PTMOVE_32_BIT)
  # A 64-bit time_t and file offsets, so that nothing wraps in 2038.
  set(CMAKE_C_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
  set(CMAKE_CXX_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
endif()

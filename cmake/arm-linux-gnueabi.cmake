# Cross build for the board: ARM, little endian, Linux 2.6 user space (armel ABI).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The board's core is ARMv4 (ARM state only, no ARMv5 instructions): our code is built for it.
# Debian's own libraries are built for ARMv5TE; the board's toolchain brings ARMv4 ones.
set(CMAKE_C_FLAGS_INIT "-march=armv4 -marm")
set(CMAKE_CXX_FLAGS_INIT "-march=armv4 -marm")
# Unit tests built for the board run on the PC under user-mode emulation, on the oldest core
# that Debian's C library runs on.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -cpu arm926 -L /usr/arm-linux-gnueabi)

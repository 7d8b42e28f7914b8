# Cross build for the board with Debian's armel compiler: ARM, little endian, Linux user space.
# Our code is built for the board's ARMv4 core; Debian's own libraries are built for ARMv5TE
# (the board's toolchain brings ARMv4 ones: board-toolchain.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/board-core.cmake)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
# Unit tests built for the board run on the PC under user-mode emulation, on the oldest core
# that Debian's C library runs on.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -cpu arm926 -L /usr/arm-linux-gnueabi)

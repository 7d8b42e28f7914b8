# The board's own toolchain: a cross compiler for the ARMv4 core with a sysroot that holds the
# board's C library (one that runs on Linux 2.6.25) and the 2.6.25 kernel headers.
#   cmake --preset board -DBOARD_TOOLCHAIN=/opt/board/bin/arm-unknown-linux-gnueabi- \
#                        [-DBOARD_SYSROOT=/opt/board/arm-unknown-linux-gnueabi/sysroot]
# BOARD_TOOLCHAIN is the tools' path and prefix (gcc, g++, nm, objdump, readelf follow it).
# Without BOARD_SYSROOT the compiler's own sysroot is used.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BOARD_TOOLCHAIN BOARD_SYSROOT)
if(NOT BOARD_TOOLCHAIN)
  message(FATAL_ERROR "Set BOARD_TOOLCHAIN to the board toolchain's prefix, e.g. "
                      "-DBOARD_TOOLCHAIN=/opt/board/bin/arm-unknown-linux-gnueabi-")
endif()
if(NOT EXISTS "${BOARD_TOOLCHAIN}gcc")
  message(FATAL_ERROR "No compiler at ${BOARD_TOOLCHAIN}gcc")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/board-core.cmake)
set(CMAKE_C_COMPILER "${BOARD_TOOLCHAIN}gcc")
set(CMAKE_CXX_COMPILER "${BOARD_TOOLCHAIN}g++")
if(BOARD_SYSROOT)
  set(CMAKE_SYSROOT "${BOARD_SYSROOT}")
  set(CMAKE_FIND_ROOT_PATH "${BOARD_SYSROOT}")
endif()

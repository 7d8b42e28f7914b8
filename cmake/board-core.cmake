# What every build for the board shares (included by its toolchain files): Linux on ARM,
# libraries and headers only from the target's root, and code for the board's ARMv4 core (ARM
# state only, no Thumb, no ARMv5 instructions, software floating point).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_C_FLAGS_INIT "-march=armv4 -marm")
set(CMAKE_CXX_FLAGS_INIT "-march=armv4 -marm")

# Warnings are errors in our own code; third-party code is built without these flags.
set(RECORDER_CXX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-align
    -Wnon-virtual-dtor -Werror)
set(RECORDER_C_WARNINGS -Wall -Wextra -Wformat=2 -Wdeclaration-after-statement
    -Wstrict-prototypes -Wno-unused-parameter -Werror)

# The board's ARMv4 core does not trap an unaligned load, it returns rotated data: on the board
# build every cast to a more strictly aligned pointer is an error, whatever the target allows.
if(CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(TRANSFORM RECORDER_CXX_WARNINGS REPLACE "^-Wcast-align$" "-Wcast-align=strict")
  list(APPEND RECORDER_C_WARNINGS -Wcast-align=strict)
endif()

function(recorder_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${RECORDER_CXX_WARNINGS}>
    $<$<COMPILE_LANGUAGE:C>:${RECORDER_C_WARNINGS}>)
endfunction()

# Warnings are errors in our own code; third-party code is built without these flags.
set(RECORDER_CXX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-align
    -Wnon-virtual-dtor -Werror)
set(RECORDER_C_WARNINGS -Wall -Wextra -Wformat=2 -Wdeclaration-after-statement
    -Wstrict-prototypes -Wno-unused-parameter -Werror)

function(recorder_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${RECORDER_CXX_WARNINGS}>
    $<$<COMPILE_LANGUAGE:C>:${RECORDER_C_WARNINGS}>)
endfunction()

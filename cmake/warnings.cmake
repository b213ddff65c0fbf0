# Warning sets, applied per target.
function(kelvane_warnings target)
    # Sizes and indices are ints by design: conversions that only change signedness are not
    # flagged (clang's -Wconversion would, GCC's does not).
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion
                           -Wno-sign-conversion -Wshadow -Wformat=2 -Wundef)
    if(KELVANE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

function(kelvane_test_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(KELVANE_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

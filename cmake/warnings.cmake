# Warning sets, applied per target.
function(kelvane_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion
                           -Wshadow -Wformat=2 -Wundef)
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

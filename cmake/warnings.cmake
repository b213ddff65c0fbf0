# Compiler flags, applied per target. GCC and Clang take the flags below; MSVC (untested) gets
# the counterparts that exist; other compilers get none of them.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set(kelvane_gnu_like ON)
else()
    set(kelvane_gnu_like OFF)
endif()

# The warning set of the library, its tests and its hosts. Sizes and indices are ints by design:
# conversions that only change signedness are not flagged (clang's -Wconversion would, GCC's
# does not).
function(kelvane_warnings target)
    if(kelvane_gnu_like)
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion
                               -Wno-sign-conversion -Wshadow -Wformat=2 -Wundef)
        if(KELVANE_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KELVANE_WERROR}>:/WX>)
    endif()
endfunction()

# Floating-point sums exact to the bit: IEEE semantics, no fused multiply-add.
function(kelvane_exact_floats target)
    if(kelvane_gnu_like)
        target_compile_options(${target} PRIVATE -ffp-contract=off)
    elseif(MSVC)
        target_compile_options(${target} PRIVATE /fp:precise)
    endif()
endfunction()

# Third-party code compiled as it comes, without warnings of ours (stb).
function(kelvane_no_warnings)
    if(kelvane_gnu_like)
        set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS -w)
    elseif(MSVC)
        set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS /w)
    endif()
endfunction()

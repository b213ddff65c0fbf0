# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The POSIX thread model, whose C++ library has std::mutex (GoogleTest needs it); -static below
# links its thread library into each program.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# stb is headers only: the host's copy serves every target.
set(KELVANE_STB_INCLUDE_DIR /usr/include/stb CACHE PATH "stb_image.h")
set(KELVANE_STB_WRITE_INCLUDE_DIR /usr/include/stb CACHE PATH "stb_image_write.h")
# Programs that need no MinGW runtime DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# The programs run under Wine (Debian's wine64 installs its loader outside PATH).
find_program(KELVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib/wine64)
if(KELVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANE_WINE})
endif()

# stb's headers, from the system package (Debian: libstb-dev) or KELVANE_STB_INCLUDE_DIR. Only the
# headers are used: the library compiles the decoder in src/stb_decoder.cpp and the encoder in
# src/stb_encoder.cpp (its own zlib compressor once more in src/stb_zlib_stock.cpp).
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(STB QUIET stb)
endif()
find_path(KELVANE_STB_INCLUDE_DIR stb_image.h HINTS ${STB_INCLUDE_DIRS} PATH_SUFFIXES stb)
find_path(KELVANE_STB_WRITE_INCLUDE_DIR stb_image_write.h HINTS ${STB_INCLUDE_DIRS}
          PATH_SUFFIXES stb)
if(NOT KELVANE_STB_INCLUDE_DIR OR NOT KELVANE_STB_WRITE_INCLUDE_DIR)
    message(FATAL_ERROR "stb_image.h and stb_image_write.h not found: install libstb-dev "
                        "(scripts/setup-deps.sh does) or set KELVANE_STB_INCLUDE_DIR")
endif()
add_library(kelvane_stb_headers INTERFACE)
target_include_directories(kelvane_stb_headers SYSTEM INTERFACE ${KELVANE_STB_INCLUDE_DIR}
                           ${KELVANE_STB_WRITE_INCLUDE_DIR})

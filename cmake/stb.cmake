# stb's headers, from the system package (Debian: libstb-dev) or KELVANE_STB_INCLUDE_DIR. Only the
# headers are used: the library compiles the decoder in src/read/stb_decoder.cpp and the encoder in
# src/write/stb_encoder.cpp (its own zlib compressor once more in src/write/stb_zlib_stock.cpp).
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

# The versions compiled, as the headers' first lines give them.
foreach(header image image_write)
    string(TOUPPER ${header} kelvane_upper)
    set(kelvane_dir ${KELVANE_STB_INCLUDE_DIR})
    if(header STREQUAL image_write)
        set(kelvane_dir ${KELVANE_STB_WRITE_INCLUDE_DIR})
    endif()
    file(STRINGS ${kelvane_dir}/stb_${header}.h kelvane_line LIMIT_COUNT 1
         REGEX "stb_${header} - v[0-9.]+")
    string(REGEX MATCH "v([0-9.]+)" kelvane_match "${kelvane_line}")
    set(KELVANE_STB_${kelvane_upper}_VERSION ${CMAKE_MATCH_1})
endforeach()
message(STATUS "tarnwick-kelvane stb: stb_image ${KELVANE_STB_IMAGE_VERSION} "
               "(${KELVANE_STB_INCLUDE_DIR}), stb_image_write ${KELVANE_STB_IMAGE_WRITE_VERSION}")

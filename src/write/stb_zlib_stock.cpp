// stb_image_write's own zlib compressor, compiled in a translation unit of its own without the
// hook that hands the library's PNG encoder the faster one (src/png_compressor.cpp): for the
// qualities that the fast parse does not handle. Everything here is static to this unit.
// Built without warnings (CMakeLists.txt).
#include "write/png_compressor.hpp"
#include "write/writer_memory.hpp"

#define STBIW_MALLOC(size) kelvane::writer_malloc(size)
#define STBIW_REALLOC(block, size) kelvane::writer_realloc(block, size)
#define STBIW_FREE(block) kelvane::writer_free(block)
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace kelvane {

unsigned char *stock_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                   int quality) noexcept {
    return stbi_zlib_compress(data, data_len, out_len, quality);
}

}  // namespace kelvane

// The translation unit that compiles stb_image_write, in its default configuration but for its
// hooks: its memory comes from writer_memory, so that a refusal abandons the write instead of
// writing through a bad pointer; its zlib compressor and CRC-32 are the library's, which write
// the same bytes faster (png_compressor), or, in the fast PNG build, libdeflate's compressor.
// Built without warnings (CMakeLists.txt).
#include <cstdlib>

#include "write/png_compressor.hpp"
#include "write/stb_png_avx2.h"
#include "write/writer_memory.hpp"

#define STBIW_MALLOC(size) kelvane::writer_malloc(size)
#define STBIW_REALLOC(block, size) kelvane::writer_realloc(block, size)
#define STBIW_FREE(block) kelvane::writer_free(block)
#define STBIW_CRC32(buffer, length) kelvane::png_crc32(buffer, length)

#ifdef KELVANE_FAST_PNG
namespace kelvane {
unsigned char *fast_zlib_compress(unsigned char *data, int data_len, int *out_len, int quality);
}
#define STBIW_ZLIB_COMPRESS kelvane::fast_zlib_compress
#else
#define STBIW_ZLIB_COMPRESS kelvane::png_zlib_compress
#endif

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

// The same hooks for the AVX2 copy of the PNG writer.
extern "C" {
void *kelvane_stb_malloc(size_t size) { return STBIW_MALLOC(size); }
void *kelvane_stb_realloc(void *block, size_t size) { return STBIW_REALLOC(block, size); }
void kelvane_stb_free(void *block) { STBIW_FREE(block); }
unsigned char *kelvane_stb_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                         int quality) {
    return STBIW_ZLIB_COMPRESS(data, data_len, out_len, quality);
}
unsigned int kelvane_stb_crc32(unsigned char *buffer, int len) { return STBIW_CRC32(buffer, len); }
}

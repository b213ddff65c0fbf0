/* stb_image_write's PNG writer once more, compiled for AVX2: its row filters and their cost
 * estimate, plain loops over bytes, then take 32 bytes a step, and the integer results, the
 * file's bytes among them, stay the same. image_write calls it where the processor has AVX2,
 * else the library's own copy (stb_encoder.cpp), which also writes JPEG and BMP. It is C, and
 * every function of stb here is static, so that no code built for AVX2 can stand in for code of
 * the other paths (as a C++ inline function might, kept once for the whole library). The copy
 * reaches the library through the same hooks, and takes its settings from the library's copy. */
#include "write/stb_png_avx2.h"

#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STBIW_MALLOC(size) kelvane_stb_malloc(size)
#define STBIW_REALLOC(block, size) kelvane_stb_realloc(block, size)
#define STBIW_FREE(block) kelvane_stb_free(block)
#define STBIW_CRC32(buffer, length) kelvane_stb_crc32(buffer, length)
#define STBIW_ZLIB_COMPRESS kelvane_stb_zlib_compress
/* This copy's settings, under names of their own. */
#define stbi_write_png_compression_level avx2_png_compression_level
#define stbi_write_force_png_filter avx2_force_png_filter
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#undef stbi_write_png_compression_level
#undef stbi_write_force_png_filter

/* The library's copy's settings. */
extern int stbi_write_png_compression_level;
extern int stbi_write_force_png_filter;

unsigned char *kelvane_png_to_mem_avx2(const unsigned char *pixels, int w, int h, int *len) {
    avx2_png_compression_level = stbi_write_png_compression_level;
    avx2_force_png_filter = stbi_write_force_png_filter;
    return stbi_write_png_to_mem(pixels, 0, w, h, 4, len);
}

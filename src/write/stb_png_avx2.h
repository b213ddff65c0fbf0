// stb_image_write's PNG writer compiled a second time, for processors with AVX2
// (stb_png_avx2.c), and the library's hooks of stb_image_write as C functions for it.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// stbi_write_png_to_mem(pixels, 0, w, h, 4, len) with the settings of the library's own copy of
// the writer (its compression level and forced filter). Call it only where the processor has
// AVX2.
unsigned char *kelvane_png_to_mem_avx2(const unsigned char *pixels, int w, int h, int *len);

// The hooks (stb_encoder.cpp): writer_memory's heap, and the library's compressor and CRC-32.
void *kelvane_stb_malloc(size_t size);
void *kelvane_stb_realloc(void *block, size_t size);
void kelvane_stb_free(void *block);
unsigned char *kelvane_stb_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                         int quality);
unsigned int kelvane_stb_crc32(unsigned char *buffer, int len);

#ifdef __cplusplus
}
#endif

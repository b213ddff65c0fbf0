// stb_image_write's JPEG writer compiled a second time, for processors with AVX2
// (stb_jpeg_avx2.c).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// stbi_write_jpg_to_func(write, context, w, h, 3, rgb, 90). Call it only where the processor has
// AVX2.
int kelvane_jpg_to_func_avx2(void (*write)(void *context, void *data, int size), void *context,
                             int w, int h, const unsigned char *rgb);

#ifdef __cplusplus
}
#endif

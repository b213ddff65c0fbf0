/* stb_image_write's JPEG writer once more, compiled for AVX2: its colour conversion, DCT and
 * quantisation, float loops over the 8 x 8 blocks, then take 8 floats a step. They stay IEEE
 * single precision and are never fused into multiply-adds (-ffp-contract=off, as the whole
 * library is built; -mavx2 brings no FMA instructions), and the compiler reorders no sum, so
 * the file's bytes are those of the library's own copy (stb_encoder.cpp). Its bit writer
 * shifts an int past INT_MAX, which C++20 defines and GCC and clang compile in C as the same
 * wrapping shift (CMakeLists.txt). image_write calls it where the processor has AVX2. It is C,
 * and every function of stb here is static, so that no code built for AVX2 can stand in for
 * code of the other paths. The JPEG writer allocates nothing (its bytes go to the caller's
 * function, as from the library's copy); what else of stb is here would take the library's
 * hooks. */
#include "write/stb_jpeg_avx2.h"

#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "write/stb_png_avx2.h"

#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STBIW_MALLOC(size) kelvane_stb_malloc(size)
#define STBIW_REALLOC(block, size) kelvane_stb_realloc(block, size)
#define STBIW_FREE(block) kelvane_stb_free(block)
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

int kelvane_jpg_to_func_avx2(void (*write)(void *context, void *data, int size), void *context,
                             int w, int h, const unsigned char *rgb) {
    return stbi_write_jpg_to_func(write, context, w, h, 3, rgb, 90);
}

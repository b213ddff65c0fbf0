/* stb compiled plainly, as a user would (the build type's -O3, none of the library's flags):
 * its zlib compressor, and the rows its PNG encoder compresses, read back from its own PNG. */
#include "stb_plain.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>

unsigned char *plain_zlib_compress(unsigned char *data, int size, int *out_size, int quality) {
    return stbi_zlib_compress(data, size, out_size, quality);
}

static int big_endian32(const unsigned char *p) {
    return (int)((unsigned)p[0] << 24 | (unsigned)p[1] << 16 | (unsigned)p[2] << 8 | p[3]);
}

unsigned char *plain_png_rows(const unsigned char *rgba, int w, int h, int *size) {
    /* stb writes the signature (8 bytes), the IHDR chunk (25), then one IDAT chunk: its length,
     * its type and the zlib stream of the filtered rows. */
    const int idat = 8 + 25;
    int png_size = 0;
    unsigned char *png = stbi_write_png_to_mem(rgba, w * 4, w, h, 4, &png_size);
    unsigned char *rows = NULL;
    if (png && png_size > idat + 8 && memcmp(png + idat + 4, "IDAT", 4) == 0)
        rows = (unsigned char *)stbi_zlib_decode_malloc((const char *)png + idat + 8,
                                                        big_endian32(png + idat), size);
    STBIW_FREE(png);
    return rows;
}

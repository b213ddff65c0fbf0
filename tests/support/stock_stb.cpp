#include "stock_stb.hpp"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <cstdlib>

namespace kelvane_test::stock {
namespace {

void append(void *context, void *data, int size) {
    static_cast<std::string *>(context)->append(static_cast<const char *>(data), std::size_t(size));
}

}  // namespace

std::string zlib(const std::string &data, int quality) {
    int length = 0;
    std::string copy = data;  // stb takes a non-const pointer
    unsigned char *z = stbi_zlib_compress(reinterpret_cast<unsigned char *>(copy.data()),
                                          int(copy.size()), &length, quality);
    std::string out(reinterpret_cast<const char *>(z), std::size_t(length));
    std::free(z);
    return out;
}

std::string png(int w, int h, const std::uint8_t *rgba, int png_level) {
    std::string out;
    stbi_write_png_compression_level = png_level;
    stbi_write_png_to_func(append, &out, w, h, 4, rgba, 0);
    stbi_write_png_compression_level = 8;
    return out;
}

std::string jpeg(int w, int h, const std::uint8_t *rgb) {
    std::string out;
    stbi_write_jpg_to_func(append, &out, w, h, 3, rgb, 90);
    return out;
}

std::string bmp(int w, int h, const std::uint8_t *rgb) {
    std::string out;
    stbi_write_bmp_to_func(append, &out, w, h, 3, rgb);
    return out;
}

}  // namespace kelvane_test::stock

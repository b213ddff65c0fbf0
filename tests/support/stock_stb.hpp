// stb_image_write as it comes, without the library's hooks, compiled in a translation unit of
// its own (stock_stb.cpp): what the library's encoding must equal byte for byte.
#pragma once

#include <cstdint>
#include <string>

namespace kelvane_test::stock {

// stb's zlib stream of `data` at `quality`.
std::string zlib(const std::string &data, int quality);

// The file stb writes for w x h pixels of `components` bytes (PNG at `png_level`).
std::string png(int w, int h, const std::uint8_t *rgba, int png_level = 8);
std::string jpeg(int w, int h, const std::uint8_t *rgb);
std::string bmp(int w, int h, const std::uint8_t *rgb);

}  // namespace kelvane_test::stock

// Small files of the formats that the tests build by hand, byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.hpp"

namespace kelvane_test {

std::string be16(int v);
std::string be32(std::uint32_t v);
std::string le16(int v);
std::string le32(std::uint32_t v);

// A PSD in RGB colour mode with empty sections, holding the planes given (one string per
// channel, already compressed when `compression` is 1); `channels` overrides their count.
std::string psd(int width, int height, int depth, int compression,
                const std::vector<std::string> &planes, int channels = -1);

// A PSD of the picture's four planes, raw or PackBits-coded (literal runs only).
std::string psd_of(const Picture &picture, bool packbits);

// Files of the picture in the formats stb_image_write does not write, or not every way.
std::string bmp_of(const Picture &picture);            // 24-bit
std::string tga_of(const Picture &picture, bool rle);  // 32-bit
std::string ppm_of(const Picture &picture);            // 8-bit binary P6
std::string pic_of(const Picture &picture);            // one raw RGBA packet
std::string gif_of(const Picture &picture);            // 256 colours, 9-bit LZW codes
// The same palette, LZW-compressed as GIF encoders do: areas of one colour build the longest
// code chains the format allows.
std::string lzw_gif_of(const Picture &picture);
std::string flat_hdr_of(const Picture &picture);  // Radiance, rows stored flat
std::string jpeg_of(const Picture &picture, int quality = 90);

}  // namespace kelvane_test

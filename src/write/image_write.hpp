// Pictures to files: the writing side. The output name chooses the format; pictures beyond the
// encoder's 32-bit reach are refused; JPEG and BMP are flattened onto white; stb_image_write
// encodes the whole file in memory (src/stb_encoder.cpp), and only then does output_file put it in
// place.
#pragma once

#include "base/image.hpp"

namespace kelvane {

// Writes `image` in the format that the name selects. The picture is spent once saved: JPEG and
// BMP have no alpha, so for them it is flattened onto white in its own buffer, and a PNG's
// compressed stream is made in that buffer. 1 when the whole file is in place; 0 with the message
// set, and the file as it was.
int save_image(const char *path, Image &image) noexcept;

// 0 when the text after the last '.' of `path` is jpg, jpeg or bmp in any letter case (the
// opaque formats), otherwise 1 (PNG).
int out_kind(const char *path) noexcept;

// Whether the encoder that `path` selects can write a w x h picture without its 32-bit sizes
// and offsets wrapping; save_image refuses the others.
bool encoder_can_write(const char *path, int w, int h) noexcept;

// The flattened (opaque) value of colour sample c under alpha a: c blended onto white,
// (255 * (255 - a) + c * a + 127) / 255 with the quotient truncated.
inline std::uint8_t flatten_sample(unsigned c, unsigned a) noexcept {
    const unsigned x = 255 * (255 - a) + c * a + 127;  // at most 65152
    // (x + 1 + x / 256) / 256 equals x / 255 for every x up to 65152, and stays within 16 bits.
    return std::uint8_t((x + 1 + (x >> 8)) >> 8);
}

}  // namespace kelvane

// The drop shadow computed the plain way, as the definition the library's fast code must match
// bit for bit: one loop over pixel, channel and tap, clamped indices, float sums in tap order.
// Slow on purpose.
#pragma once

#include <cstdint>
#include <vector>

#include "picture.hpp"

namespace kelvane_test {

// The 2R + 1 normalised kernel weights for blur >= 1, R = min(blur, 256).
std::vector<float> reference_kernel(int blur);

// The horizontal pass over a width x height RGBA layer: unrounded float sums, 4 per pixel.
std::vector<float> reference_horizontal(const std::vector<std::uint8_t> &layer, int width,
                                        int height, int blur);

// The vertical pass over the horizontal sums: unrounded float sums, 4 per pixel.
std::vector<float> reference_vertical_sums(const std::vector<float> &across, int width, int height,
                                           int blur);

// The same, each sum rounded once to a byte: v + 0.5 truncated, held to 0..255.
std::vector<std::uint8_t> reference_vertical(const std::vector<float> &across, int width,
                                             int height, int blur);

// The whole shadow canvas for `picture`: silhouette, blur, then the picture copied on top.
Picture reference_shadow(const Picture &picture, int dx, int dy, int blur, int r, int g, int b);

}  // namespace kelvane_test

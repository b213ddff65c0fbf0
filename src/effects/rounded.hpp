// Rounded corners: the corners cut away along anti-aliased quarter circles.
#pragma once

#include "base/image.hpp"

namespace kelvane {

// Scales the alpha of the pixels in the four r x r corner squares, in place, where
// r = min(radius, width / 2, height / 2); colours and every other pixel stay as they are.
void round_corners(Image &picture, int radius) noexcept;

}  // namespace kelvane

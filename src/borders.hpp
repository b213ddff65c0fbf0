// Borders: a picture copied onto a larger canvas whose margins hold one opaque colour.
#pragma once

#include "image.hpp"

namespace kelvane {

// Widths of the four margins, in the order callers pass them.
struct Margins {
    int top, right, bottom, left;
};

// Builds a canvas of picture + margins on every side, each `margin` (>= 0) wide. 0 with the
// message set when the canvas has no int size or cannot be allocated.
int solid_border(const Image &picture, int margin, Rgb colour, Image &canvas) noexcept;

constexpr int max_sides_canvas = 65536;

// Builds a canvas of picture + the four margins (each >= 0), at most 65536 pixels a side. 0 with
// the message set when it would be larger or cannot be allocated.
int side_border(const Image &picture, const Margins &margins, Rgb colour, Image &canvas) noexcept;

}  // namespace kelvane

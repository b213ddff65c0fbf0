// Borders: a picture copied onto a larger canvas whose margins hold one opaque colour.
#pragma once

#include "base/image.hpp"

namespace kelvane {

// Widths of the four margins, in the order callers pass them.
struct Margins {
    int top, right, bottom, left;
};

// Turns the picture into a canvas `margin` (>= 0) pixels larger on every side, the margins in the
// opaque colour. 0 with the message set when the canvas has no int size or cannot be allocated;
// the picture is then as it was.
int solid_border(Image &picture, int margin, Rgb colour) noexcept;

constexpr int max_sides_canvas = 65536;

// The same with a margin of its own on each side (each >= 0); the canvas may be at most 65536
// pixels a side. 0 with the message set when it would be larger or cannot be allocated.
int side_border(Image &picture, const Margins &margins, Rgb colour) noexcept;

}  // namespace kelvane

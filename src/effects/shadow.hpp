// The drop shadow: the picture over a shifted, blurred silhouette of itself.
#pragma once

#include "base/image.hpp"

namespace kelvane {

constexpr int max_shadow_canvas = 32768;

// Where everything lies on the shadow canvas.
struct ShadowGeometry {
    int width, height;                  // the canvas: picture + |offset| + blur on every side
    int picture_width, picture_height;  // the picture, and so the silhouette
    int shadow_x, shadow_y;             // top-left of the silhouette
    int picture_x, picture_y;           // top-left of the picture
    int blur, radius;                   // blur size and kernel radius min(blur, 256)
};

// False when dx, dy and blur make a canvas that no picture fits in an int, whatever its size;
// checked before the input is loaded.
bool shadow_arguments_in_range(int dx, int dy, int blur) noexcept;

// The message for arguments whose canvas has no int size.
int fail_out_of_range(int dx, int dy, int blur) noexcept;

// The geometry for a w x h picture; 0 with the message set when the canvas would be larger
// than 32768 on a side.
int shadow_geometry(int w, int h, int dx, int dy, int blur, ShadowGeometry &geometry) noexcept;

// Turns the picture into its shadow canvas: the picture at its origin over the blurred
// silhouette in `colour`. 0 with the message set when a buffer cannot be had.
int build_shadow(Image &picture, const ShadowGeometry &geometry, Rgb colour) noexcept;

}  // namespace kelvane

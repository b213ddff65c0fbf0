#include "effects/borders.hpp"

#include <cstring>

#include "base/message.hpp"

namespace kelvane {
namespace {

void fill_pixels(std::uint8_t *dst, int count, const std::uint8_t (&rgba)[4]) noexcept {
    for (int i = 0; i < count; ++i) std::memcpy(dst + std::size_t(i) * 4, rgba, 4);
}

// Grows the picture into a width x height canvas with the picture at (margins.left, margins.top)
// and colours the margins, row by row in memory order. The caller has checked that the size is
// picture + margins and has an int pixel count.
int padded_canvas(Image &image, const Margins &margins, Rgb colour, int width,
                  int height) noexcept {
    const int picture_width = image.width, picture_height = image.height;
    if (!grow_into_canvas(image, width, height, margins.left, margins.top))
        return fail("out of memory for %dx%d canvas", width, height);
    const std::uint8_t rgba[4] = {colour.r, colour.g, colour.b, 255};
    const int below = margins.top + picture_height;
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = image.row(y);
        if (y < margins.top || y >= below) {
            fill_pixels(row, width, rgba);
            continue;
        }
        fill_pixels(row, margins.left, rgba);
        fill_pixels(row + (std::size_t(margins.left) + std::size_t(picture_width)) * 4,
                    margins.right, rgba);
    }
    return 1;
}

}  // namespace

int solid_border(Image &picture, int margin, Rgb colour) noexcept {
    int width = 0, height = 0, both_margins = 0;
    const bool sized = checked_add(margin, margin, both_margins) &&
                       checked_add(picture.width, both_margins, width) &&
                       checked_add(picture.height, both_margins, height) &&
                       pixel_count(width, height) <= INT_MAX;
    if (!sized) {
        return fail("resulting canvas too large: margin %d around a %dx%d picture", margin,
                    picture.width, picture.height);
    }
    return padded_canvas(picture, {margin, margin, margin, margin}, colour, width, height);
}

int side_border(Image &picture, const Margins &margins, Rgb colour) noexcept {
    const std::int64_t width = std::int64_t(margins.left) + picture.width + margins.right;
    const std::int64_t height = std::int64_t(margins.top) + picture.height + margins.bottom;
    if (width > INT_MAX || height > INT_MAX) {
        return fail("resulting canvas too large: side widths %d,%d,%d,%d around a %dx%d picture",
                    margins.top, margins.right, margins.bottom, margins.left, picture.width,
                    picture.height);
    }
    const int w = int(width), h = int(height);
    // 65536 x 65536 passes the side limit, but no encoder can write 2^31 pixels or more, so
    // such a canvas is refused before gigabytes are filled for nothing.
    if (w > max_sides_canvas || h > max_sides_canvas || pixel_count(w, h) > INT_MAX)
        return fail("resulting canvas too large: %dx%d", w, h);
    return padded_canvas(picture, margins, colour, w, h);
}

}  // namespace kelvane

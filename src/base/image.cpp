#include "base/image.hpp"

#include <cstring>

#include "base/large_memory.hpp"

namespace kelvane {

bool grow_into_canvas(Image &image, int width, int height, int left, int top) noexcept {
    const std::uint64_t pixels = pixel_count(width, height);
    if (pixels > SIZE_MAX / 4) return false;
    void *grown = large_realloc(image.pixels.get(), std::size_t(pixels) * 4);
    if (!grown) return false;  // the picture still owns its old buffer
    (void)image.pixels.release();
    image.pixels.reset(static_cast<std::uint8_t *>(grown));

    const std::size_t old_row = image.row_bytes();
    const int old_height = image.height;
    image.width = width;
    image.height = height;
    image.channels = 4;
    // Each row lands at or beyond where it starts and beyond the rows above it, so moving the
    // bottom row first never overwrites a row that is still to move.
    std::uint8_t *base = image.pixels.get();
    for (int y = old_height - 1; y >= 0; --y) {
        std::uint8_t *to = image.row(top + y) + std::size_t(left) * 4;
        const std::uint8_t *from = base + std::size_t(y) * old_row;
        if (to != from) std::memmove(to, from, old_row);
    }
    return true;
}

}  // namespace kelvane

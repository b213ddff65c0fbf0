// Pictures in memory, the buffers that own their pixels, and the checked arithmetic that turns
// caller-supplied ints into sizes.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/large_memory.hpp"

namespace kelvane {

// Every pixel buffer comes from malloc/calloc (the decoder's included) and goes back to free.
using pixel_buffer = std::unique_ptr<std::uint8_t[], free_deleter>;
using float_buffer = std::unique_ptr<float[], free_deleter>;

// One picture: width x height pixels of 4 bytes (red, green, blue, alpha; alpha not
// premultiplied), rows top to bottom with no gap. `channels` records what the source file held
// (4 for a canvas built here); the layout of `pixels` is RGBA whatever it says.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;
    pixel_buffer pixels;

    std::size_t row_bytes() const noexcept { return std::size_t(width) * 4; }
    std::uint8_t *row(int y) noexcept { return pixels.get() + std::size_t(y) * row_bytes(); }
    const std::uint8_t *row(int y) const noexcept {
        return pixels.get() + std::size_t(y) * row_bytes();
    }
};

// The low 8 bits of each caller component.
struct Rgb {
    std::uint8_t r, g, b;
};
inline Rgb rgb(int r, int g, int b) noexcept {
    return {std::uint8_t(r & 255), std::uint8_t(g & 255), std::uint8_t(b & 255)};
}

// w * h in 64 bits: the int product overflows long before memory runs out.
inline std::uint64_t pixel_count(int w, int h) noexcept {
    return std::uint64_t(w) * std::uint64_t(h);
}

// Zero-filled buffer of w x h pixels of `bytes_per_pixel` bytes; empty when the size has no
// size_t value on this platform or the heap refuses it.
inline pixel_buffer alloc_pixels(int w, int h, unsigned bytes_per_pixel) noexcept {
    const std::uint64_t px = pixel_count(w, h);
    if (px > SIZE_MAX / bytes_per_pixel) return nullptr;
    return pixel_buffer(
        static_cast<std::uint8_t *>(large_calloc(std::size_t(px), bytes_per_pixel)));
}

// Turns `image` into a width x height canvas (at least as large) with the picture moved to
// (left, top). The buffer is reallocated rather than replaced, so the memory the picture already
// occupies is reused and only the growth is new. Every pixel outside the picture's new place is
// left over from before: the caller writes each one. False, with `image` unchanged, when the
// heap refuses.
bool grow_into_canvas(Image &image, int width, int height, int left, int top) noexcept;

// a + b, or false when the sum has no int value.
inline bool checked_add(int a, int b, int &sum) noexcept {
    const std::int64_t s = std::int64_t(a) + b;
    if (s < INT_MIN || s > INT_MAX) return false;
    sum = static_cast<int>(s);
    return true;
}

}  // namespace kelvane

// The Gaussian blur of the drop shadow: kernel weights and the two separable passes. Every
// result is exact to the bit: single-precision sums in tap order, no fused multiply-add.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kelvane {

// The kernel radius is capped so that a pass never takes more than 513 taps per pixel.
constexpr int max_kernel_radius = 256;

inline int kernel_radius(int blur) noexcept { return std::min(blur, max_kernel_radius); }

// Writes the 2R + 1 normalised weights for `blur` >= 1 into `kernel`, index R the centre:
// w_i = exp(-i^2 / (2 sigma^2)) / (sqrt(2 pi) sigma) with sigma^2 = blur^2 / 2, computed in double,
// stored as float and divided in float by the float-rounded double sum.
void kernel_weights(int blur, float *kernel) noexcept;

// The row primitives both passes are built from. A sum is always taken in tap order from +0, in
// single precision, one lane per float, so lanes may run side by side without changing a bit.
// The loops are written plainly and left to the compiler's vectoriser (at -O3, four floats to a
// 16-byte vector on x86-64), which versions each one with a run-time check that `out` does not
// overlap its sources; the tests compare every sum with the scalar reference blur.

// out[i] = sum over t < taps of source[i + 4 t] * kernel[t], for i < n_floats: a row of RGBA
// pixels convolved along the row, `source` holding the taps' pixels as floats.
void convolve_row(const float *source, int n_floats, const float *kernel, int taps,
                  float *out) noexcept;

// out[i] = sum over t < taps of rows[t][offset + i] * kernel[t], for i < n_floats; a null row
// holds only zeros and is skipped, which leaves every sum as it would be.
void accumulate_rows(const float *const *rows, std::size_t offset, int n_floats,
                     const float *kernel, int taps, float *out) noexcept;

// The byte of each sum: v + 0.5 truncated, held to 0..255.
void round_to_bytes(const float *sums, int n, std::uint8_t *out) noexcept;

}  // namespace kelvane

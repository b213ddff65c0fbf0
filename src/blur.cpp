#include "blur.hpp"

#include <cmath>

namespace kelvane {
namespace {

// Columns are processed in chunks whose sums live on the stack.
constexpr int chunk_pixels = 64;
constexpr int chunk_floats = chunk_pixels * 4;

int clamp_index(int i, int last) noexcept { return i < 0 ? 0 : i > last ? last : i; }

}  // namespace

void kernel_weights(int blur, float *kernel) noexcept {
    const int radius = kernel_radius(blur);
    const double b = blur;
    const double sigma = std::sqrt(b * b / 2.0);
    const double two_sigma_sq = 2.0 * sigma * sigma;
    const double scale = 2.5066282746310002 * sigma;  // sqrt(2 pi) sigma, rounded once
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        const double w = std::exp(-double(i) * double(i) / two_sigma_sq) / scale;
        kernel[i + radius] = float(w);
        sum += w;
    }
    const float norm = float(sum);
    for (int t = 0; t <= 2 * radius; ++t) kernel[t] /= norm;
}

void convolve_row(const float *source, int n_floats, const float *kernel, int taps,
                  float *out) noexcept {
    for (int i = 0; i < n_floats; ++i) out[i] = 0.0f;
    for (int t = 0; t < taps; ++t) {
        const float k = kernel[t];
        const float *src = source + std::size_t(t) * 4;
        for (int i = 0; i < n_floats; ++i) out[i] += src[i] * k;
    }
}

void accumulate_rows(const float *const *rows, std::size_t offset, int n_floats,
                     const float *kernel, int taps, float *out) noexcept {
    for (int i = 0; i < n_floats; ++i) out[i] = 0.0f;
    for (int t = 0; t < taps; ++t) {
        if (!rows[t]) continue;
        const float k = kernel[t];
        const float *src = rows[t] + offset;
        for (int i = 0; i < n_floats; ++i) out[i] += src[i] * k;
    }
}

void round_to_bytes(const float *sums, int n, std::uint8_t *out) noexcept {
    for (int i = 0; i < n; ++i) {
        const float v = sums[i] + 0.5f;
        out[i] = v <= 0.0f ? 0 : v >= 255.0f ? 255 : std::uint8_t(v);
    }
}

void horizontal_pass(const std::uint8_t *layer, int width, int height, const float *kernel,
                     int radius, float *out) noexcept {
    const int taps = 2 * radius + 1;
    const std::size_t row_floats = std::size_t(width) * 4;
    float source[(chunk_pixels + 2 * max_kernel_radius) * 4];
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *row = layer + std::size_t(y) * row_floats;
        for (int x0 = 0; x0 < width; x0 += chunk_pixels) {
            const int n = std::min(chunk_pixels, width - x0);
            // The chunk's taps as floats; a tap beyond the row reads the edge pixel.
            for (int j = 0; j < n + 2 * radius; ++j) {
                const std::uint8_t *px =
                    row + std::size_t(clamp_index(x0 - radius + j, width - 1)) * 4;
                for (int c = 0; c < 4; ++c) source[j * 4 + c] = float(px[c]);
            }
            convolve_row(source, n * 4, kernel, taps,
                         out + std::size_t(y) * row_floats + std::size_t(x0) * 4);
        }
    }
}

void vertical_pass(const float *in, int width, int height, const float *kernel, int radius,
                   std::uint8_t *layer) noexcept {
    const int taps = 2 * radius + 1;
    const std::size_t row_floats = std::size_t(width) * 4;
    const float *rows[2 * max_kernel_radius + 1];
    float sums[chunk_floats];
    for (int y = 0; y < height; ++y) {
        // A tap beyond the top or bottom reads the edge row.
        for (int t = 0; t < taps; ++t)
            rows[t] = in + std::size_t(clamp_index(y - radius + t, height - 1)) * row_floats;
        for (int x0 = 0; x0 < width; x0 += chunk_pixels) {
            const int n = std::min(chunk_pixels, width - x0);
            const std::size_t offset = std::size_t(x0) * 4;
            accumulate_rows(rows, offset, n * 4, kernel, taps, sums);
            round_to_bytes(sums, n * 4, layer + std::size_t(y) * row_floats + offset);
        }
    }
}

}  // namespace kelvane

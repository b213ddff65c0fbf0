#include "effects/blur.hpp"

#include <cmath>

namespace kelvane {

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

}  // namespace kelvane

#include "reference_blur.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace kelvane_test {

std::vector<float> reference_kernel(int blur) {
    const int radius = std::min(blur, 256);
    const double sigma = std::sqrt(double(blur) * double(blur) / 2.0);
    std::vector<float> kernel;
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        const double w =
            std::exp(-double(i * i) / (2.0 * sigma * sigma)) / (2.5066282746310002 * sigma);
        kernel.push_back(float(w));
        sum += w;
    }
    const float total = float(sum);
    for (float &w : kernel) w = w / total;
    return kernel;
}

namespace {

int clamp(int i, int n) { return i < 0 ? 0 : i > n - 1 ? n - 1 : i; }

std::size_t index(int width, int x, int y, int c) { return (std::size_t(y) * width + x) * 4 + c; }

}  // namespace

std::vector<float> reference_horizontal(const std::vector<std::uint8_t> &layer, int width,
                                        int height, int blur) {
    const std::vector<float> k = reference_kernel(blur);
    const int radius = std::min(blur, 256);
    std::vector<float> across(layer.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                float sum = 0.0f;
                for (int t = 0; t <= 2 * radius; ++t)
                    sum += float(layer[index(width, clamp(x - radius + t, width), y, c)]) * k[t];
                across[index(width, x, y, c)] = sum;
            }
    return across;
}

std::vector<float> reference_vertical_sums(const std::vector<float> &across, int width, int height,
                                           int blur) {
    const std::vector<float> k = reference_kernel(blur);
    const int radius = std::min(blur, 256);
    std::vector<float> down(across.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                float sum = 0.0f;
                for (int t = 0; t <= 2 * radius; ++t)
                    sum += across[index(width, x, clamp(y - radius + t, height), c)] * k[t];
                down[index(width, x, y, c)] = sum;
            }
    return down;
}

std::vector<std::uint8_t> reference_vertical(const std::vector<float> &across, int width,
                                             int height, int blur) {
    const std::vector<float> down = reference_vertical_sums(across, width, height, blur);
    std::vector<std::uint8_t> layer(down.size());
    for (std::size_t i = 0; i < down.size(); ++i) {
        const int v = int(down[i] + 0.5f);
        layer[i] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return layer;
}

Picture reference_shadow(const Picture &picture, int dx, int dy, int blur, int r, int g, int b) {
    const int w = picture.width, h = picture.height;
    const int width = w + std::abs(dx) + 2 * blur, height = h + std::abs(dy) + 2 * blur;
    const int shadow_x = blur + std::max(dx, 0), shadow_y = blur + std::max(dy, 0);
    const int picture_x = blur + std::max(-dx, 0), picture_y = blur + std::max(-dy, 0);
    auto at = [width](int x, int y, int c) { return index(width, x, y, c); };

    std::vector<std::uint8_t> layer(std::size_t(width) * height * 4, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t p = at(shadow_x + x, shadow_y + y, 0);
            layer[p] = std::uint8_t(r & 255);
            layer[p + 1] = std::uint8_t(g & 255);
            layer[p + 2] = std::uint8_t(b & 255);
            layer[p + 3] = picture.rgba[(std::size_t(y) * w + x) * 4 + 3];
        }

    if (blur > 0) {
        layer = reference_vertical(reference_horizontal(layer, width, height, blur), width, height,
                                   blur);
    }

    Picture canvas{width, height, 4, layer};
    for (int y = 0; y < h; ++y)
        std::copy_n(picture.rgba.begin() + std::ptrdiff_t(y) * w * 4, w * 4,
                    canvas.rgba.begin() + std::ptrdiff_t(at(picture_x, picture_y + y, 0)));
    return canvas;
}

}  // namespace kelvane_test

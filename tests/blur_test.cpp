// The blur's building blocks against the plain reference blur, bit for bit at float level:
// rounding to bytes would hide a last-bit drift.
#include "effects/blur.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/reference_blur.hpp"

using namespace kelvane_test;

namespace {

bool same_bits(const float *a, const float *b, std::size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

std::vector<float> kernel_for(int blur) {
    std::vector<float> kernel(std::size_t(2 * kelvane::kernel_radius(blur) + 1));
    kelvane::kernel_weights(blur, kernel.data());
    return kernel;
}

TEST(blur_test, kernel_weights_are_the_normalised_gaussian) {
    const std::vector<float> k1 = kernel_for(1), k2 = kernel_for(2);
    EXPECT_NEAR(k1[0], 0.212f, 0.001f);
    EXPECT_NEAR(k1[1], 0.576f, 0.001f);
    EXPECT_EQ(k1[0], k1[2]);
    const float near2[5] = {0.1117f, 0.2365f, 0.3036f, 0.2365f, 0.1117f};
    for (std::size_t t = 0; t < 5; ++t) EXPECT_NEAR(k2[t], near2[t], 0.001f) << t;
    EXPECT_EQ(k1, reference_kernel(1));
    EXPECT_EQ(k2, reference_kernel(2));
    // Up to blur 256 the outermost weight is e^-1 of the centre; beyond, the bell is cut earlier.
    const std::vector<float> k300 = kernel_for(300);
    EXPECT_NEAR(k300[0] / k300[256], 0.48f, 0.01f);
    EXPECT_EQ(k300, reference_kernel(300));
}

// Both passes built from the row primitives as the shadow builds them, against the reference's
// passes: across, each row's taps read its pixels with the edge pixels repeated; down, the rows
// of zeros are handed over as null rows, which must leave every sum as it would be.
TEST(blur_test, row_primitives_give_the_reference_passes) {
    std::mt19937 rng(7);
    const int height = 7;
    for (int blur : {1, 2, 5, 17, 256})
        for (int width : {1, 3, 15, 257}) {
            const int radius = kelvane::kernel_radius(blur), taps = 2 * radius + 1;
            const std::vector<float> k = kernel_for(blur);
            const std::size_t row_floats = std::size_t(width) * 4;
            auto clear = [](int y) { return y % 3 == 1; };
            std::vector<std::uint8_t> layer(row_floats * height);
            for (std::size_t i = 0; i < layer.size(); ++i)
                layer[i] = clear(int(i / row_floats)) ? 0 : std::uint8_t(rng());

            const std::vector<float> across = reference_horizontal(layer, width, height, blur);
            std::vector<float> source(std::size_t(width + 2 * radius) * 4), got(across.size());
            for (int y = 0; y < height; ++y) {
                for (int p = -radius; p < width + radius; ++p)
                    for (int c = 0; c < 4; ++c)
                        source[std::size_t(p + radius) * 4 + std::size_t(c)] =
                            layer[std::size_t(y) * row_floats +
                                  std::size_t(std::clamp(p, 0, width - 1)) * 4 + std::size_t(c)];
                kelvane::convolve_row(source.data(), int(row_floats), k.data(), taps,
                                      got.data() + std::size_t(y) * row_floats);
            }
            ASSERT_TRUE(same_bits(got.data(), across.data(), got.size()))
                << "across, blur=" << blur << " width=" << width;

            // Down, from a column offset as the shadow starts past the columns it skips.
            const std::vector<float> down = reference_vertical_sums(across, width, height, blur);
            const std::size_t offset = std::size_t(width / 3) * 4, n = row_floats - offset;
            std::vector<const float *> rows(std::size_t(taps), nullptr);
            for (int y = 0; y < height; ++y) {
                for (int t = 0; t < taps; ++t) {
                    const int from = std::clamp(y - radius + t, 0, height - 1);
                    rows[std::size_t(t)] =
                        clear(from) ? nullptr : across.data() + std::size_t(from) * row_floats;
                }
                float *sums = got.data() + std::size_t(y) * row_floats;
                kelvane::accumulate_rows(rows.data(), offset, int(n), k.data(), taps, sums);
                ASSERT_TRUE(same_bits(sums, down.data() + std::size_t(y) * row_floats + offset, n))
                    << "down, blur=" << blur << " width=" << width << " row " << y;
            }

            std::vector<std::uint8_t> bytes(down.size());
            kelvane::round_to_bytes(down.data(), int(down.size()), bytes.data());
            ASSERT_EQ(bytes, reference_vertical(across, width, height, blur));
        }
}

TEST(blur_test, rounding_truncates_half_up_and_holds_to_a_byte) {
    const float sums[] = {-3.0f, -0.6f, 0.0f, 0.49f, 0.5f, 1.49999f, 254.5f, 255.2f, 300.0f};
    std::uint8_t bytes[9];
    kelvane::round_to_bytes(sums, 9, bytes);
    EXPECT_EQ(std::vector<int>(bytes, bytes + 9),
              (std::vector<int>{0, 0, 0, 0, 1, 1, 255, 255, 255}));
}

}  // namespace

// The blur's building blocks against the plain definition, bit for bit at float level: rounding
// to bytes would hide a last-bit drift.
#include "blur.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/reference_blur.hpp"

using namespace kelvane_test;

namespace {

bool same_bits(const std::vector<float> &a, const std::vector<float> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::vector<float> kernel_for(int blur) {
    std::vector<float> kernel(std::size_t(2 * kelvane::kernel_radius(blur) + 1));
    kelvane::kernel_weights(blur, kernel.data());
    return kernel;
}

TEST(blur_test, row_primitives_sum_each_lane_in_tap_order) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    for (int blur : {1, 2, 5, 17, 256}) {
        const std::vector<float> k = kernel_for(blur);
        const int taps = int(k.size());
        for (int n : {4, 12, 60, 257 * 4}) {
            std::vector<float> source(std::size_t(n + 4 * taps));
            for (float &v : source) v = value(rng);
            const std::size_t count = static_cast<std::size_t>(n);
            std::vector<float> got(count), want(count, 0.0f);
            kelvane::convolve_row(source.data(), n, k.data(), taps, got.data());
            for (int i = 0; i < n; ++i)
                for (int t = 0; t < taps; ++t)
                    want[std::size_t(i)] += source[std::size_t(i + 4 * t)] * k[std::size_t(t)];
            ASSERT_TRUE(same_bits(got, want)) << "convolve_row blur=" << blur << " n=" << n;

            // Every third row is null: it holds zeros and must not change a sum.
            std::vector<const float *> rows(k.size());
            for (int t = 0; t < taps; ++t)
                rows[std::size_t(t)] = t % 3 == 1 ? nullptr : source.data() + t;
            std::fill(want.begin(), want.end(), 0.0f);
            for (int i = 0; i < n; ++i)
                for (int t = 0; t < taps; ++t)
                    want[std::size_t(i)] +=
                        (t % 3 == 1 ? 0.0f : source[std::size_t(t + 3 + i)]) * k[std::size_t(t)];
            kelvane::accumulate_rows(rows.data(), 3, n, k.data(), taps, got.data());
            ASSERT_TRUE(same_bits(got, want)) << "accumulate_rows blur=" << blur << " n=" << n;
        }
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

#include "effects/rounded.hpp"

#include <algorithm>
#include <cmath>

namespace kelvane {
namespace {

// The new alpha of a pixel at distance d from the arc's centre: unchanged inside R - 0.5, zero
// outside R + 0.5, and scaled by the covered part (R + 0.5) - d in the band between.
std::uint8_t covered_alpha(double d, double radius, std::uint8_t alpha) noexcept {
    if (d >= radius + 0.5) return 0;
    const double coverage = (radius + 0.5) - d;
    return std::uint8_t(coverage * alpha + 0.5);
}

}  // namespace

void round_corners(Image &picture, int radius) noexcept {
    const int r = std::min({radius, picture.width / 2, picture.height / 2});
    if (r <= 0) return;
    const double big_r = r;
    const int last_x = picture.width - 1, last_y = picture.height - 1;
    // j counts rows in from the top or bottom edge, k columns in from the left or right edge.
    for (int j = 0; j < r; ++j) {
        const double dy = j + 0.5 - big_r;
        std::uint8_t *top = picture.row(j), *bottom = picture.row(last_y - j);
        for (int k = 0; k < r; ++k) {
            const double dx = k + 0.5 - big_r;
            const double d = std::sqrt(dx * dx + dy * dy);
            // d shrinks as k grows, so the rest of this row lies inside the arc
            if (d <= big_r - 0.5) break;
            for (std::uint8_t *row : {top, bottom}) {
                std::uint8_t &left = row[std::size_t(k) * 4 + 3];
                std::uint8_t &right = row[std::size_t(last_x - k) * 4 + 3];
                left = covered_alpha(d, big_r, left);
                right = covered_alpha(d, big_r, right);
            }
        }
    }
}

}  // namespace kelvane

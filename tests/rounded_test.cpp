// Rounded corners: the effective radius, the coverage of the edge band, and what stays untouched.
#include <kelvane.h>

#include <algorithm>
#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class rounded_test : public ScratchTest {
  protected:
    // Rounds `picture` through a PNG file and returns the result's alpha samples, row by row.
    std::vector<int> rounded_alpha(const Picture &picture, int radius) {
        EXPECT_EQ(kelvane_rounded(in(picture).c_str(), out().c_str(), radius), 1)
            << kelvane_last_error();
        result_ = read_rgba(out());
        std::vector<int> alpha;
        for (std::size_t i = 3; i < result_.rgba.size(); i += 4) alpha.push_back(result_.rgba[i]);
        return alpha;
    }
    Picture result_;
};

// An opaque w x h picture whose colours differ from pixel to pixel.
Picture opaque(int w, int h) {
    Picture p = solid_picture(w, h, {0, 0, 0, 255});
    for (int i = 0; i < w * h; ++i) {
        p.rgba[std::size_t(i) * 4] = std::uint8_t(i * 3);
        p.rgba[std::size_t(i) * 4 + 1] = std::uint8_t(i * 5 + 1);
        p.rgba[std::size_t(i) * 4 + 2] = std::uint8_t(255 - i);
    }
    return p;
}

// The alpha grid of a w x h opaque picture whose four corners follow `corner` (rows j inward from
// the top or bottom edge, columns k inward from the left or right edge).
std::vector<int> mirrored(int w, int h, const std::vector<std::vector<int>> &corner) {
    const int r = int(corner.size());
    std::vector<int> alpha;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int j = std::min(y, h - 1 - y), k = std::min(x, w - 1 - x);
            alpha.push_back(j < r && k < r ? corner[j][k] : 255);
        }
    return alpha;
}

TEST_F(rounded_test, corner_squares_on_opaque_pictures) {
    const std::vector<std::vector<std::vector<int>>> corners = {
        {{202}},
        {{97, 234}, {234, 255}},
        {{0, 149, 242}, {149, 255, 255}, {242, 255, 255}},
        {{0, 51, 176, 246}, {51, 246, 255, 255}, {176, 255, 255, 255}, {246, 255, 255, 255}},
    };
    for (int r = 1; r <= 4; ++r) {
        const Picture picture = opaque(2 * r + 1, 2 * r + 2);  // odd and even sides
        EXPECT_EQ(rounded_alpha(picture, r), mirrored(2 * r + 1, 2 * r + 2, corners[r - 1]))
            << "r=" << r;
        for (std::size_t i = 0; i < picture.rgba.size(); ++i) {
            if (i % 4 == 3) continue;
            ASSERT_EQ(result_.rgba[i], picture.rgba[i]) << "colour, r=" << r;
        }
    }
}

TEST_F(rounded_test, radius_is_reduced_to_half_the_shorter_side) {
    EXPECT_EQ(rounded_alpha(opaque(4, 4), 10),
              (std::vector<int>{97, 234, 234, 97, 234, 255, 255, 234,  //
                                234, 255, 255, 234, 97, 234, 234, 97}));
    EXPECT_EQ(rounded_alpha(opaque(5, 3), 9),
              (std::vector<int>{202, 255, 255, 255, 202, 255, 255, 255, 255, 255,  //
                                202, 255, 255, 255, 202}));
    std::vector<int> narrow(14, 255);
    narrow[0] = narrow[1] = narrow[12] = narrow[13] = 202;
    EXPECT_EQ(rounded_alpha(opaque(2, 7), 5), narrow);
}

TEST_F(rounded_test, edge_band_scales_existing_alpha) {
    const std::vector<int> alpha = rounded_alpha(solid_picture(4, 4, {9, 9, 9, 128}), 2);
    EXPECT_EQ(alpha, (std::vector<int>{48, 118, 118, 48, 118, 128, 128, 118,  //
                                       118, 128, 128, 118, 48, 118, 118, 48}));
    EXPECT_EQ(result_.at(0, 0), (std::vector<std::uint8_t>{9, 9, 9, 48}));
}

TEST_F(rounded_test, nothing_changes_without_a_radius_or_on_one_pixel_lines) {
    const Picture square = opaque(6, 6), line = opaque(1, 9);
    EXPECT_EQ(rounded_alpha(square, 0), std::vector<int>(36, 255));
    EXPECT_EQ(result_.rgba, square.rgba);
    EXPECT_EQ(rounded_alpha(line, 100), std::vector<int>(9, 255));
    EXPECT_EQ(result_.rgba, line.rgba);
}

TEST_F(rounded_test, opaque_formats_show_the_corners_white) {
    const std::string target = out("round.bmp");
    ASSERT_EQ(kelvane_rounded(in(solid_picture(6, 6, {0, 0, 0, 255})).c_str(), target.c_str(), 3),
              1);
    const Picture bmp = read_rgba(target);
    // alpha 0 -> 255, 149 -> 106, 242 -> 13 over white; inside stays black
    EXPECT_EQ(bmp.at(0, 0), (std::vector<std::uint8_t>{255, 255, 255, 255}));
    EXPECT_EQ(bmp.at(1, 0), (std::vector<std::uint8_t>{106, 106, 106, 255}));
    EXPECT_EQ(bmp.at(5, 2), (std::vector<std::uint8_t>{13, 13, 13, 255}));
    EXPECT_EQ(bmp.at(1, 1), (std::vector<std::uint8_t>{0, 0, 0, 255}));
}

TEST_F(rounded_test, radius_is_checked_after_the_paths_and_before_loading) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_rounded(missing.c_str(), out().c_str(), -3), 0);
    EXPECT_EQ(last_error(), "radius must be >= 0 (got -3)");
    EXPECT_EQ(kelvane_rounded(nullptr, out().c_str(), -3), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
    EXPECT_EQ(kelvane_rounded(missing.c_str(), out().c_str(), INT_MAX), 0);
    EXPECT_EQ(last_error(), decode_failure(missing, "can't fopen"));
    EXPECT_FALSE(exists(out()));
}

}  // namespace

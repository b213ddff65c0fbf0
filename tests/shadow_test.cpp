// The drop shadow: geometry, the exact blur, composition, limits and messages.
#include "effects/shadow.hpp"

#include <kelvane.h>

#include <random>
#include <string>

#include "base/image.hpp"
#include "support/fixture.hpp"
#include "support/generated.hpp"
#include "support/reference_blur.hpp"

using namespace kelvane_test;

namespace {

using Px = std::vector<std::uint8_t>;

// The library's shadow canvas for `picture`, built in memory without files.
Picture library_shadow(const Picture &picture, int dx, int dy, int blur, int r, int g, int b) {
    kelvane::Image image = image_of(picture);
    kelvane::ShadowGeometry geometry{};
    EXPECT_EQ(kelvane::shadow_geometry(picture.width, picture.height, dx, dy, blur, geometry), 1);
    EXPECT_EQ(kelvane::build_shadow(image, geometry, kelvane::rgb(r, g, b)), 1);
    return picture_of(image);
}

class shadow_test : public ScratchTest {};

TEST_F(shadow_test, hard_shadow_without_blur) {
    const Picture picture{2, 1, 4, {1, 2, 3, 255, 4, 5, 6, 128}};
    ASSERT_EQ(kelvane_shadow(in(picture).c_str(), out().c_str(), 2, -1, 0, 9, 8, 7), 1);
    const Picture result = read_rgba(out());
    ASSERT_EQ(result.width, 4);
    ASSERT_EQ(result.height, 2);
    EXPECT_EQ(result.rgba, (Px{0, 0, 0, 0,   0, 0, 0, 0,   9, 8, 7, 255, 9, 8, 7, 128,  //
                               1, 2, 3, 255, 4, 5, 6, 128, 0, 0, 0, 0,   0, 0, 0, 0}));
}

TEST_F(shadow_test, one_red_pixel_with_blur_one) {
    const Picture picture = solid_picture(1, 1, {10, 200, 30, 255});
    ASSERT_EQ(kelvane_shadow(in(picture).c_str(), out().c_str(), 0, 0, 1, 255, 0, 0), 1);
    const Picture result = read_rgba(out());
    ASSERT_EQ(result.width, 3);
    ASSERT_EQ(result.height, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            const bool corner = x != 1 && y != 1, centre = x == 1 && y == 1;
            const Px want = centre   ? Px{10, 200, 30, 255}
                            : corner ? Px{11, 0, 0, 11}
                                     : Px{31, 0, 0, 31};
            EXPECT_EQ(result.at(x, y), want) << x << "," << y;
        }
}

TEST(shadow_exact_test, matches_the_plain_definition_bit_for_bit) {
    for (const ShadowJob &job : random_shadow_jobs(160)) {
        const Picture &p = job.picture;
        ASSERT_EQ(library_shadow(p, job.dx, job.dy, job.blur, job.r, job.g, job.b).rgba,
                  reference_shadow(p, job.dx, job.dy, job.blur, job.r, job.g, job.b).rgba)
            << p.width << "x" << p.height << " alpha kind " << int(job.alpha) << " dx=" << job.dx
            << " dy=" << job.dy << " blur=" << job.blur;
    }
}

TEST(shadow_exact_test, blur_beyond_256_keeps_the_outer_border_empty) {
    std::mt19937 rng(300);
    const Picture picture = random_picture(rng, 3, 2);
    const Picture result = library_shadow(picture, 1, -1, 258, 255, 255, 255);
    ASSERT_EQ(result.rgba, reference_shadow(picture, 1, -1, 258, 255, 255, 255).rgba);
    // The kernel reaches 256 pixels; the canvas keeps 258 round the picture and its shadow.
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            if (x >= 2 && x < result.width - 2 && y >= 2 && y < result.height - 2) continue;
            ASSERT_EQ(result.at(x, y), (Px{0, 0, 0, 0})) << x << "," << y;
        }
}

TEST(shadow_exact_test, white_shadow_of_an_opaque_picture_has_colour_equal_to_alpha) {
    const Picture picture = solid_picture(4, 3, {1, 2, 3, 255});
    const Picture result = library_shadow(picture, 3, 2, 5, 255, 255, 255);
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            const Px p = result.at(x, y);
            if (x >= 5 && x < 9 && y >= 5 && y < 8) continue;  // the picture itself
            ASSERT_TRUE(p[0] == p[3] && p[1] == p[3] && p[2] == p[3]) << x << "," << y;
        }
}

TEST(shadow_exact_test, transparent_picture_leaves_alpha_zero_but_blurred_colour) {
    const Picture picture = solid_picture(3, 3, {0, 0, 0, 0});
    const Picture result = library_shadow(picture, 0, 0, 2, 200, 100, 50);
    bool coloured = false;
    for (int y = 0; y < result.height; ++y)
        for (int x = 0; x < result.width; ++x) {
            ASSERT_EQ(result.at(x, y)[3], 0);
            coloured = coloured || result.at(x, y)[0] != 0;
        }
    EXPECT_TRUE(coloured);
    EXPECT_EQ(result.at(2, 2), (Px{0, 0, 0, 0}));  // inside: the picture's own pixel
}

TEST_F(shadow_test, negative_offsets_put_the_shadow_left_and_above) {
    const Picture picture = solid_picture(2, 2, {50, 60, 70, 255});
    ASSERT_EQ(kelvane_shadow(in(picture).c_str(), out().c_str(), -3, -1, 0, 1, 2, 3), 1);
    const Picture result = read_rgba(out());
    ASSERT_EQ(result.width, 5);
    ASSERT_EQ(result.height, 3);
    EXPECT_EQ(result.at(0, 0), (Px{1, 2, 3, 255}));     // shadow at the origin
    EXPECT_EQ(result.at(3, 1), (Px{50, 60, 70, 255}));  // picture at (3, 1)
    EXPECT_EQ(result.at(4, 0), (Px{0, 0, 0, 0}));
}

TEST_F(shadow_test, colour_keeps_the_low_eight_bits_and_opaque_output_is_flattened) {
    const Picture picture = solid_picture(1, 1, {0, 0, 0, 0});
    ASSERT_EQ(kelvane_shadow(in(picture).c_str(), out().c_str(), 1, 0, 0, 256, -1, 300), 1);
    EXPECT_EQ(read_rgba(out()).at(1, 0), (Px{0, 255, 44, 0}));
    const Picture opaque = solid_picture(1, 1, {0, 0, 0, 255});
    ASSERT_EQ(kelvane_shadow(in(opaque).c_str(), out("s.bmp").c_str(), 1, 0, 0, 0, 0, 0), 1);
    const Picture bmp = read_rgba(out("s.bmp"));
    EXPECT_EQ(bmp.at(0, 0), (Px{0, 0, 0, 255}));
    EXPECT_EQ(bmp.at(1, 0), (Px{0, 0, 0, 255}));
    ASSERT_EQ(kelvane_shadow(in(opaque).c_str(), out("s.bmp").c_str(), 0, 0, 1, 0, 0, 0), 1);
    EXPECT_EQ(read_rgba(out("s.bmp")).at(0, 0), (Px{244, 244, 244, 255}));  // alpha 11 on white
}

TEST_F(shadow_test, canvas_of_32768_is_accepted_and_32769_refused) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 255}));
    ASSERT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 32767, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(read_rgba(out()).width, 32768);
    ASSERT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 0, -32765, 1, 0, 0, 0), 1);
    EXPECT_EQ(read_rgba(out()).height, 32768);
    std::filesystem::remove(out());
    EXPECT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 32768, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "shadow canvas too large: 32769x1");
    EXPECT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 0, 1, 16384, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "shadow canvas too large: 32769x32770");
    EXPECT_FALSE(exists(out()));
}

TEST_F(shadow_test, arguments_beyond_the_int_range_are_refused_before_anything_is_allocated) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_shadow(missing.c_str(), out().c_str(), 0, 0, 1 << 30, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "shadow canvas too large: dx 0, dy 0 and blur 1073741824 leave the int range");
    EXPECT_EQ(kelvane_shadow(missing.c_str(), out().c_str(), INT_MIN, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "shadow canvas too large: dx -2147483648, dy 0 and blur 0 leave the int range");
    EXPECT_EQ(kelvane_shadow(missing.c_str(), out().c_str(), 5, INT_MIN, 3, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "shadow canvas too large: dx 5, dy -2147483648 and blur 3 leave the int range");
    // These fit an int on their own; only the picture's size takes the canvas past it.
    const std::string input = in(solid_picture(2, 1, {1, 2, 3, 255}));
    EXPECT_EQ(kelvane_shadow(input.c_str(), out().c_str(), INT_MAX, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "shadow canvas too large: dx 2147483647, dy 0 and blur 0 leave the int range");
    EXPECT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 0, 0, (1 << 30) - 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "shadow canvas too large: dx 0, dy 0 and blur 1073741823 leave the "
              "int range");
    EXPECT_FALSE(exists(out()));
}

TEST_F(shadow_test, checks_come_in_order) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_shadow(nullptr, out().c_str(), 0, 0, -1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
    EXPECT_EQ(kelvane_shadow(missing.c_str(), out().c_str(), -5, -5, -1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "blur must be >= 0 (got -1)");
    EXPECT_EQ(kelvane_shadow(missing.c_str(), out().c_str(), -5, -5, 40000, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(missing, "can't fopen"));
    EXPECT_FALSE(exists(out()));
}

}  // namespace

// The uniform border (solid and padding): canvas geometry, colour, the copied picture, limits.
#include <kelvane.h>

#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class borders_test : public ScratchTest {};

using Px = std::vector<std::uint8_t>;

TEST_F(borders_test, one_pixel_with_margin_two) {
    const Picture picture = solid_picture(1, 1, {200, 100, 50, 255});
    ASSERT_EQ(kelvane_solid(in(picture).c_str(), out().c_str(), 2, 10, 20, 30), 1);
    const Picture result = read_rgba(out());
    ASSERT_EQ(result.width, 5);
    ASSERT_EQ(result.height, 5);
    expect_framed(result, picture, 2, 2, {10, 20, 30, 255});
}

TEST_F(borders_test, rows_land_at_the_margin_with_alpha_copied_not_blended) {
    const Picture picture{3, 2, 4, {1,  2,  3,  255, 4,  5,  6,  0,   7,  8,  9,  128,
                                    10, 11, 12, 1,   13, 14, 15, 254, 16, 17, 18, 255}};
    ASSERT_EQ(kelvane_padding(in(picture).c_str(), out().c_str(), 1, 90, 91, 92), 1);
    const Picture result = read_rgba(out());
    ASSERT_EQ(result.width, 5);
    ASSERT_EQ(result.height, 4);
    expect_framed(result, picture, 1, 1, {90, 91, 92, 255});
}

TEST_F(borders_test, colour_keeps_the_low_eight_bits) {
    const std::string input = in(solid_picture(1, 1, {0, 0, 0, 0}));
    ASSERT_EQ(kelvane_solid(input.c_str(), out().c_str(), 1, 256, -1, 300), 1);
    EXPECT_EQ(last_error(), "");
    EXPECT_EQ(read_rgba(out()).at(0, 0), (Px{0, 255, 44, 255}));
}

TEST_F(borders_test, margin_zero_re_encodes_the_picture) {
    Picture picture = solid_picture(4, 3, {0, 0, 0, 0});
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) picture.rgba[i] = std::uint8_t(i * 7);
    ASSERT_EQ(kelvane_solid(in(picture).c_str(), out().c_str(), 0, 1, 2, 3), 1);
    EXPECT_EQ(read_rgba(out()).rgba, picture.rgba);
}

TEST_F(borders_test, solid_and_padding_write_identical_files) {
    const Picture picture{2, 1, 4, {30, 60, 90, 120, 1, 2, 3, 4}};
    const std::string input = in(picture);
    for (const char *name : {"a.png", "a.jpg", "a.bmp"}) {
        const std::string solid = path(std::string("solid-") + name);
        const std::string padding = path(std::string("padding-") + name);
        ASSERT_EQ(kelvane_solid(input.c_str(), solid.c_str(), 3, 7, 8, 9), 1);
        ASSERT_EQ(kelvane_padding(input.c_str(), padding.c_str(), 3, 7, 8, 9), 1);
        EXPECT_EQ(read_bytes(solid), read_bytes(padding)) << name;
    }
}

TEST_F(borders_test, margins_whose_canvas_has_no_int_size_are_refused_before_allocating) {
    const std::string input = in(solid_picture(3, 2, {1, 1, 1, 255}));
    const struct {
        int margin;
        const char *size;
    } cases[] = {
        {INT_MAX, "3x2"},     // 2 * margin wraps
        {1073741823, "3x2"},  // 2 * margin fits, adding the width does not
        {23170, "3x2"},       // 46343 x 46342 pixels: the count passes INT_MAX
    };
    for (const auto &c : cases) {
        EXPECT_EQ(kelvane_solid(input.c_str(), out().c_str(), c.margin, 0, 0, 0), 0);
        EXPECT_EQ(last_error(), "resulting canvas too large: margin " + std::to_string(c.margin) +
                                    " around a " + c.size + " picture");
        EXPECT_FALSE(exists(out()));
    }
}

TEST_F(borders_test, sides_place_the_picture_at_left_and_top) {
    const Picture picture{2, 1, 4, {1, 2, 3, 4, 5, 6, 7, 0}};
    const std::string input = in(picture);
    const Px fill{0, 255, 44, 255};  // from the colour (256, -1, 300)
    const struct {
        int top, right, bottom, left, width, height;
    } cases[] = {{5, 0, 0, 0, 2, 6}, {0, 3, 2, 0, 5, 3}, {1, 2, 3, 4, 8, 5}, {0, 0, 0, 0, 2, 1}};
    for (const auto &c : cases) {
        ASSERT_EQ(kelvane_sides(input.c_str(), out().c_str(), c.top, c.right, c.bottom, c.left, 256,
                                -1, 300),
                  1);
        const Picture result = read_rgba(out());
        ASSERT_EQ(result.width, c.width);
        ASSERT_EQ(result.height, c.height);
        expect_framed(result, picture, c.left, c.top, fill);
    }
}

TEST_F(borders_test, equal_sides_write_the_same_file_as_the_uniform_border) {
    const std::string input =
        in(Picture{2, 2, 4, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6}});
    ASSERT_EQ(kelvane_sides(input.c_str(), out("sides.png").c_str(), 3, 3, 3, 3, 1, 2, 3), 1);
    ASSERT_EQ(kelvane_solid(input.c_str(), out("solid.png").c_str(), 3, 1, 2, 3), 1);
    EXPECT_EQ(read_bytes(out("sides.png")), read_bytes(out("solid.png")));
}

TEST_F(borders_test, sides_canvas_is_limited_to_65536_each_way) {
    const std::string input = in(solid_picture(3, 2, {1, 2, 3, 255}));
    const struct {
        int top, right, bottom, left;
        bool accepted;
        const char *size;
    } cases[] = {
        {0, 65000, 0, 533, true, "65536x2"}, {0, 65000, 0, 534, false, "65537x2"},
        {65000, 0, 534, 0, true, "3x65536"}, {65534, 0, 1, 0, false, "3x65537"},
        {0, 0, 0, 65534, false, "65537x2"},  {65535, 0, 0, 0, false, "3x65537"},
    };
    for (const auto &c : cases) {
        const int ok =
            kelvane_sides(input.c_str(), out().c_str(), c.top, c.right, c.bottom, c.left, 0, 0, 0);
        if (c.accepted) {
            ASSERT_EQ(ok, 1) << c.size << ": " << last_error();
            const Picture result = read_rgba(out());
            EXPECT_EQ(std::to_string(result.width) + "x" + std::to_string(result.height), c.size);
            EXPECT_EQ(result.at(c.left, c.top), (Px{1, 2, 3, 255}));
            std::filesystem::remove(out());
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(last_error(), std::string("resulting canvas too large: ") + c.size);
            EXPECT_FALSE(exists(out()));
        }
    }
}

TEST_F(borders_test, sides_check_signs_before_loading_and_size_after) {
    const std::string missing = path("missing.png");
    EXPECT_EQ(kelvane_sides(missing.c_str(), out().c_str(), 0, -1, 0, 3, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "side widths must all be >= 0 (got 0,-1,0,3)");
    EXPECT_EQ(kelvane_sides(missing.c_str(), out().c_str(), 1, -2, 3, -4, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "side widths must all be >= 0 (got 1,-2,3,-4)");
    EXPECT_EQ(kelvane_sides(missing.c_str(), out().c_str(), 70000, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(missing, "can't fopen"));
    EXPECT_EQ(kelvane_sides(nullptr, out().c_str(), -1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "NULL input or output path");
    EXPECT_FALSE(exists(out()));
}

TEST_F(borders_test, sides_beyond_int_or_two_gigapixels_are_refused_before_allocating) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 255}));
    EXPECT_EQ(kelvane_sides(input.c_str(), out().c_str(), INT_MAX, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "resulting canvas too large: side widths 2147483647,0,0,0 around a 1x1 picture");
    EXPECT_EQ(kelvane_sides(input.c_str(), out().c_str(), 0, INT_MAX, 0, INT_MAX, 0, 0, 0), 0);
    EXPECT_EQ(last_error(),
              "resulting canvas too large: side widths 0,2147483647,0,2147483647 "
              "around a 1x1 picture");
    // Within 65536 each way, but 2^32 pixels: more than any encoder can write.
    EXPECT_EQ(kelvane_sides(input.c_str(), out().c_str(), 65535, 0, 0, 65535, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "resulting canvas too large: 65536x65536");
    EXPECT_FALSE(exists(out()));
}

TEST_F(borders_test, jpeg_sides_end_at_65535) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 255}));
    ASSERT_EQ(kelvane_sides(input.c_str(), out("edge.jpg").c_str(), 0, 32767, 0, 32767, 0, 0, 0),
              1);
    EXPECT_EQ(read_rgba(out("edge.jpg")).width, 65535);
    const std::string target = out("wide.jpg");
    EXPECT_EQ(kelvane_sides(input.c_str(), target.c_str(), 0, 0, 0, 65535, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), save_failure(target));
    EXPECT_FALSE(exists(target));
}

}  // namespace

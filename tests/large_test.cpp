// Sizes at the limits, which need gigabytes of memory and seconds to minutes each. They run only
// when KELVANE_LARGE_TESTS=1 (scripts/test.sh sets it for its Release suite: peak about 9 GiB,
// about a minute in all) and are skipped otherwise.
#include <kelvane.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class large_test : public ScratchTest {
  protected:
    void SetUp() override {
        const char *enabled = std::getenv("KELVANE_LARGE_TESTS");
        if (!enabled || std::string(enabled) != "1")
            GTEST_SKIP() << "needs gigabytes: set KELVANE_LARGE_TESTS=1";
        ScratchTest::SetUp();
    }
    // Width and height in a PNG's header, provided the file ends with its IEND chunk (stb
    // declines to read PNGs of more than 2^30 bytes of pixels, so it cannot tell).
    std::pair<int, int> png_size(const std::string &file) const {
        const std::string bytes = read_bytes(file);
        if (bytes.size() < 45 || bytes.compare(bytes.size() - 8, 4, "IEND") != 0) return {0, 0};
        auto be32 = [&](std::size_t at) {
            int v = 0;
            for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | std::uint8_t(bytes[at + i]);
            return v;
        };
        return {be32(16), be32(20)};
    }
};

// A w x h grey PGM of one shade: one byte a pixel.
std::string grey_pgm(const std::string &path, int w, int h) {
    std::ofstream file(path, std::ios::binary);
    file << "P5 " << w << " " << h << " 255\n";
    const std::string row(std::size_t(w), '\x60');
    for (int y = 0; y < h; ++y) file.write(row.data(), std::streamsize(row.size()));
    return path;
}

TEST_F(large_test, the_largest_pictures_load_and_are_refused_by_the_encoders) {
    // stb decodes at most 2^31 - 1 bytes of RGBA: 32768 x 16383 is as large as an input gets.
    const std::string input = grey_pgm(path("large.pgm"), 32768, 16383);
    // 2^31 bytes of PNG rows are beyond stb's deflate; as a BMP it fits the encoder's ints.
    EXPECT_EQ(kelvane_rounded(input.c_str(), out("large.png").c_str(), 100), 0);
    EXPECT_EQ(last_error(), save_failure(out("large.png")));
    EXPECT_FALSE(exists(out("large.png")));
    ASSERT_EQ(kelvane_rounded(input.c_str(), out("large.bmp").c_str(), 100), 1);
    const std::string bmp = read_bytes(out("large.bmp"));
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.size(), 54 + std::size_t(32768) * 3 * 16383);  // rows need no padding
    std::filesystem::remove(out("large.bmp"));
    // The shadow canvas may be 32768 each way: accepted, then beyond the PNG encoder.
    EXPECT_EQ(kelvane_shadow(input.c_str(), out().c_str(), 0, 16385, 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), save_failure(out()));
    const std::string too_large = grey_pgm(path("too-large.pgm"), 32768, 16384);
    EXPECT_EQ(kelvane_rounded(too_large.c_str(), out().c_str(), 1), 0);
    EXPECT_EQ(last_error(), decode_failure(too_large, "outofmem"));
}

TEST_F(large_test, canvases_at_the_limits_are_built_and_then_refused_by_the_encoders) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 255}));
    // A shadow canvas of 32768 x 32768 around a single pixel.
    EXPECT_EQ(kelvane_shadow(input.c_str(), out("shadow.bmp").c_str(), 32767, -32767, 0, 0, 0, 0),
              0);
    EXPECT_EQ(last_error(), save_failure(out("shadow.bmp")));
    // 65536 x 32767 = 2147418112 pixels: the largest per-side canvas an int counts (8 GiB).
    EXPECT_EQ(kelvane_sides(input.c_str(), out("sides.png").c_str(), 0, 65535, 32766, 0, 0, 0, 0),
              0);
    EXPECT_EQ(last_error(), save_failure(out("sides.png")));
    // 20019 square: an int pixel count, past what stb's deflate can hold.
    EXPECT_EQ(kelvane_padding(input.c_str(), out("border.png").c_str(), 10009, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), save_failure(out("border.png")));
    EXPECT_FALSE(exists(out("shadow.bmp")) || exists(out("sides.png")) ||
                 exists(out("border.png")));
}

TEST_F(large_test, a_png_just_within_the_encoders_reach_is_written) {
    const std::string input = in(solid_picture(1, 1, {1, 2, 3, 255}));
    // (4 * 18917 + 1) * 18917 = 1431430473 bytes of filtered rows: within the PNG bound.
    ASSERT_EQ(kelvane_solid(input.c_str(), out("edge.png").c_str(), 9458, 9, 9, 9), 1)
        << last_error();
    EXPECT_EQ(png_size(out("edge.png")), std::make_pair(18917, 18917));
}

}  // namespace

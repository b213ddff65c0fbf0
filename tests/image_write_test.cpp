// Saving: the format the output name selects, flattening onto white, the encoders' bounds.
#include "write/image_write.hpp"

#include <kelvane.h>
#include <stb_image_write.h>

#include <random>
#include <string>

#include "support/fixture.hpp"
#include "support/generated.hpp"
#include "support/stock_stb.hpp"
#include "write/stb_jpeg_avx2.h"

using namespace kelvane_test;

namespace {

class image_write_test : public ScratchTest {};

enum class Magic { png, jpeg, bmp };

Magic magic_of(const std::string &bytes) {
    if (bytes.rfind("\x89PNG", 0) == 0) return Magic::png;
    if (bytes.rfind("\xFF\xD8", 0) == 0) return Magic::jpeg;
    EXPECT_EQ(bytes.rfind("BM", 0), 0u) << "neither PNG, JPEG nor BMP";
    return Magic::bmp;
}

// The colour sample c under alpha a, blended onto white and rounded to the nearest byte.
unsigned on_white(unsigned c, unsigned a) { return (255 * (255 - a) + c * a + 127) / 255; }

TEST_F(image_write_test, output_name_selects_the_format) {
    const std::string input = in(solid_picture(2, 2, {10, 20, 30, 255}));
    std::filesystem::create_directories(dir_ / "pics.jpg");
    const struct {
        const char *name;
        Magic format;
    } cases[] = {
        {"out", Magic::png},        {"out.", Magic::png},        {"out.PNG", Magic::png},
        {"out.tga", Magic::png},    {"out.gif", Magic::png},     {"pics.jpg/out", Magic::png},
        {"photo.JPG", Magic::jpeg}, {"photo.Jpeg", Magic::jpeg}, {".jpg", Magic::jpeg},
        {"a.b.jpeg", Magic::jpeg},  {"scan.BMP", Magic::bmp},    {"scan.bmp", Magic::bmp},
        {"x.jpg.png", Magic::png},  {"x.jpgx", Magic::png},      {"x.bm", Magic::png},
    };
    for (const auto &c : cases) {
        const std::string target = path(c.name);
        ASSERT_EQ(kelvane_solid(input.c_str(), target.c_str(), 0, 0, 0, 0), 1) << c.name;
        EXPECT_EQ(magic_of(read_bytes(target)), c.format) << c.name;
        EXPECT_EQ(kelvane::out_kind(target.c_str()), c.format == Magic::png ? 1 : 0) << c.name;
    }
}

// Every pair of colour sample and alpha, in a picture of 259 x 255 pixels: the pixels are
// flattened four at a time where the machine has vectors, and the last one alone.
TEST_F(image_write_test, bmp_output_is_every_sample_flattened_onto_white_exactly) {
    Picture picture = solid_picture(259, 255, {0, 0, 0, 0});
    for (std::size_t i = 0; i < picture.rgba.size() / 4; ++i) {
        const unsigned c = i % 256, a = i / 256 % 256;
        std::uint8_t *px = &picture.rgba[i * 4];
        px[0] = std::uint8_t(c);
        px[1] = std::uint8_t(255 - c);
        px[2] = std::uint8_t(c ^ 0x5a);
        px[3] = std::uint8_t(a);
        ASSERT_EQ(kelvane::flatten_sample(c, a), on_white(c, a)) << "c=" << c << " a=" << a;
    }
    const std::string target = out("all.bmp");
    ASSERT_EQ(kelvane_solid(in(picture).c_str(), target.c_str(), 0, 0, 0, 0), 1);
    const Picture result = read_rgba(target);
    EXPECT_EQ(result.channels, 3);
    ASSERT_EQ(result.rgba.size(), picture.rgba.size());
    for (std::size_t i = 0; i < result.rgba.size(); ++i) {
        const unsigned want = i % 4 == 3 ? 255 : on_white(picture.rgba[i], picture.rgba[i | 3]);
        ASSERT_EQ(result.rgba[i], want) << "pixel " << i / 4 << " channel " << i % 4;
    }
}

TEST_F(image_write_test, jpeg_encodes_the_flattened_picture) {
    Picture picture = solid_picture(9, 7, {0, 0, 0, 0});
    std::vector<std::uint8_t> flat;
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) {
        picture.rgba[i] = std::uint8_t(i * 37 + 11);
        if (i % 4 != 3) continue;
        for (std::size_t c = i - 3; c < i; ++c)
            flat.push_back(std::uint8_t(on_white(picture.rgba[c], picture.rgba[i])));
    }
    const std::string target = out("flat.jpg"), reference = out("reference.jpg");
    ASSERT_EQ(kelvane_padding(in(picture).c_str(), target.c_str(), 0, 0, 0, 0), 1);
    ASSERT_NE(stbi_write_jpg(reference.c_str(), 9, 7, 3, flat.data(), 90), 0);
    EXPECT_EQ(read_bytes(target), read_bytes(reference));
}

void append_to(void *file, void *data, int size) {
    static_cast<std::string *>(file)->append(static_cast<const char *>(data), std::size_t(size));
}

// Both of the library's JPEG writers, stb's built as the library builds it and, where the
// processor has AVX2, its copy built for AVX2 (floats 8 at a time, never fused), against stock
// stb built plainly: random and photograph-like pictures of sizes around the 16 x 16 blocks of
// the subsampled colour, written directly and through save_image. corpus_test compares every
// JPEG of the corpus's pictures the same way.
TEST_F(image_write_test, jpeg_writers_write_stbs_bytes) {
    std::mt19937 rng(20261210);
    const std::string target = out("random.jpg");
    const std::pair<int, int> sizes[] = {{1, 1},  {8, 8},   {15, 17},  {16, 16},
                                         {33, 7}, {97, 61}, {640, 480}};
    for (const auto &[w, h] : sizes)
        for (int noise : {-1, 0, 6, 128}) {
            const Picture picture =
                noise < 0 ? random_picture(rng, w, h) : photo_picture(rng, w, h, noise);
            std::vector<std::uint8_t> rgb;
            for (std::size_t i = 0; i < picture.rgba.size(); i += 4)
                for (std::size_t c = 0; c < 3; ++c)
                    rgb.push_back(
                        kelvane::flatten_sample(picture.rgba[i + c], picture.rgba[i + 3]));
            const std::string want = stock::jpeg(w, h, rgb.data());
            const std::string what =
                std::to_string(w) + "x" + std::to_string(h) + " noise " + std::to_string(noise);
            std::string plain;
            ASSERT_NE(stbi_write_jpg_to_func(append_to, &plain, w, h, 3, rgb.data(), 90), 0);
            EXPECT_TRUE(plain == want) << what;
#ifdef KELVANE_STB_AVX2
            if (__builtin_cpu_supports("avx2")) {
                std::string wide;
                ASSERT_NE(kelvane_jpg_to_func_avx2(append_to, &wide, w, h, rgb.data()), 0);
                EXPECT_TRUE(wide == want) << what << ", AVX2";
            }
#endif
            kelvane::Image image = image_of(picture);
            ASSERT_EQ(kelvane::save_image(target.c_str(), image), 1) << what;
            EXPECT_TRUE(read_bytes(target) == want) << what << ", save_image";
        }
}

TEST_F(image_write_test, png_output_keeps_alpha_and_jpeg_is_opaque) {
    const Picture picture = solid_picture(8, 8, {40, 80, 120, 0});
    const std::string input = in(picture);
    ASSERT_EQ(kelvane_solid(input.c_str(), out("a.png").c_str(), 0, 0, 0, 0), 1);
    EXPECT_EQ(read_rgba(out("a.png")).rgba, picture.rgba);
    ASSERT_EQ(kelvane_solid(input.c_str(), out("a.jpg").c_str(), 0, 0, 0, 0), 1);
    const Picture jpeg = read_rgba(out("a.jpg"));
    EXPECT_EQ(jpeg.channels, 3);
    for (std::size_t i = 0; i < jpeg.rgba.size(); ++i) EXPECT_GE(jpeg.rgba[i], 254) << i;
}

// A picture that claims the given size but holds a single pixel: the encoder bounds must
// refuse it before anything reads its pixels.
kelvane::Image unwritable(int w, int h) {
    kelvane::Image image = image_of(solid_picture(1, 1, {0, 0, 0, 255}));
    image.width = w;
    image.height = h;
    return image;
}

TEST_F(image_write_test, pictures_beyond_the_encoders_reach_are_refused) {
    const struct {
        int w, h;
        const char *name;
    } cases[] = {
        {65536, 1, "wide.jpg"},  // a JPEG side holds 16 bits
        {1, 65536, "tall.jpeg"},
        {32768, 10923, "big.png"},  // (4w + 1) h beyond what stb's deflate buffer holds
        {23171, 30892, "big.bmp"},  // the BMP header's int file size would wrap
    };
    for (const auto &c : cases) {
        kelvane::Image image = unwritable(c.w, c.h);
        const std::string target = path(c.name);
        EXPECT_EQ(kelvane::save_image(target.c_str(), image), 0) << c.name;
        EXPECT_EQ(last_error(), "cannot encode '" + target + "' (check the extension)");
        EXPECT_FALSE(exists(target));
    }
}

TEST_F(image_write_test, encoder_bounds_admit_what_fits) {
    EXPECT_TRUE(kelvane::encoder_can_write("a.jpg", 65535, 10000));
    EXPECT_FALSE(kelvane::encoder_can_write("a.jpg", 65535, 11000));  // 3wh past INT_MAX
    EXPECT_TRUE(kelvane::encoder_can_write("a.png", 32768, 10922));
    EXPECT_FALSE(kelvane::encoder_can_write("a.png", 32768, 10923));
    EXPECT_TRUE(kelvane::encoder_can_write("a.bmp", 23170, 30893));  // rows padded to 69512
    EXPECT_FALSE(kelvane::encoder_can_write("a.bmp", 23170, 30894));
}

}  // namespace

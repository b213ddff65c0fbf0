// Loading and saving: decoder reasons, the size limit, output formats and flattening onto white.
#include <kelvane.h>
#include <stb_image_write.h>

#include <fstream>
#include <string>

#include "image_read.hpp"
#include "image_write.hpp"
#include "message.hpp"
#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class image_io_test : public ScratchTest {};

std::string last_error() { return kelvane_last_error(); }

enum class Magic { png, jpeg, bmp };

Magic magic_of(const std::string &bytes) {
    if (bytes.rfind("\x89PNG", 0) == 0) return Magic::png;
    if (bytes.rfind("\xFF\xD8", 0) == 0) return Magic::jpeg;
    EXPECT_EQ(bytes.rfind("BM", 0), 0u) << "neither PNG, JPEG nor BMP";
    return Magic::bmp;
}

TEST_F(image_io_test, output_name_selects_the_format) {
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

TEST(flatten_test, matches_the_division_for_every_sample_and_alpha) {
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned c = 0; c < 256; ++c)
            ASSERT_EQ(kelvane::flatten_sample(c, a), (255 * (255 - a) + c * a + 127) / 255)
                << "c=" << c << " a=" << a;
}

TEST_F(image_io_test, bmp_output_is_flattened_onto_white_exactly) {
    // (c, a) -> output: (any, 0) -> 255, (10, 255) -> 10, (0, 128) -> 127, (0, 127) -> 128,
    // (255, 128) -> 255, (0, 1) -> 254, (0, 254) -> 1, (200, 64) -> 241; 9 pixels, so that
    // groups of four and a remainder are both flattened.
    const Picture picture{
        3, 3, 4, {77, 0,   10, 0, 10, 10, 10, 255, 0, 0,   0,   128, 0,   0,  0, 127, 255, 0,
                  0,  128, 0,  0, 0,  1,  0,  0,   0, 254, 200, 200, 200, 64, 9, 99,  199, 255}};
    const std::string target = out("flat.bmp");
    ASSERT_EQ(kelvane_solid(in(picture).c_str(), target.c_str(), 0, 0, 0, 0), 1);
    const Picture result = read_rgba(target);
    ASSERT_EQ(result.width, 3);
    EXPECT_EQ(result.channels, 3);
    const std::vector<std::uint8_t> expected{
        255, 255, 255, 255, 10,  10,  10, 255, 127, 127, 127, 255, 128, 128, 128, 255, 255, 127,
        127, 255, 254, 254, 254, 255, 1,  1,   1,   255, 241, 241, 241, 255, 9,   99,  199, 255};
    EXPECT_EQ(result.rgba, expected);
}

TEST_F(image_io_test, every_sample_and_alpha_is_flattened_by_the_division) {
    Picture picture = solid_picture(256, 256, {0, 0, 0, 0});
    for (int a = 0; a < 256; ++a)
        for (int c = 0; c < 256; ++c) {
            std::uint8_t *px = &picture.rgba[(std::size_t(a) * 256 + std::size_t(c)) * 4];
            px[0] = std::uint8_t(c);
            px[1] = std::uint8_t(255 - c);
            px[2] = std::uint8_t(c ^ 0x5a);
            px[3] = std::uint8_t(a);
        }
    const std::string target = out("all.bmp");
    ASSERT_EQ(kelvane_solid(in(picture).c_str(), target.c_str(), 0, 0, 0, 0), 1);
    const Picture result = read_rgba(target);
    ASSERT_EQ(result.rgba.size(), picture.rgba.size());
    for (std::size_t i = 0; i < result.rgba.size(); ++i) {
        const unsigned c = picture.rgba[i], a = picture.rgba[i | 3];
        const unsigned want = i % 4 == 3 ? 255 : (255 * (255 - a) + c * a + 127) / 255;
        ASSERT_EQ(result.rgba[i], want) << "pixel " << i / 4 << " channel " << i % 4;
    }
}

TEST_F(image_io_test, jpeg_encodes_the_flattened_picture) {
    Picture picture = solid_picture(9, 7, {0, 0, 0, 0});
    std::vector<std::uint8_t> flat;
    for (std::size_t i = 0; i < picture.rgba.size(); ++i) {
        picture.rgba[i] = std::uint8_t(i * 37 + 11);
        if (i % 4 != 3) continue;
        for (std::size_t c = i - 3; c < i; ++c)
            flat.push_back(std::uint8_t(
                (255 * (255 - picture.rgba[i]) + picture.rgba[c] * picture.rgba[i] + 127) / 255));
    }
    const std::string target = out("flat.jpg"), reference = out("reference.jpg");
    ASSERT_EQ(kelvane_padding(in(picture).c_str(), target.c_str(), 0, 0, 0, 0), 1);
    ASSERT_NE(stbi_write_jpg(reference.c_str(), 9, 7, 3, flat.data(), 90), 0);
    EXPECT_EQ(read_bytes(target), read_bytes(reference));
}

TEST_F(image_io_test, png_output_keeps_alpha_and_jpeg_is_opaque) {
    const Picture picture = solid_picture(8, 8, {40, 80, 120, 0});
    const std::string input = in(picture);
    ASSERT_EQ(kelvane_solid(input.c_str(), out("a.png").c_str(), 0, 0, 0, 0), 1);
    EXPECT_EQ(read_rgba(out("a.png")).rgba, picture.rgba);
    ASSERT_EQ(kelvane_solid(input.c_str(), out("a.jpg").c_str(), 0, 0, 0, 0), 1);
    const Picture jpeg = read_rgba(out("a.jpg"));
    EXPECT_EQ(jpeg.channels, 3);
    for (std::size_t i = 0; i < jpeg.rgba.size(); ++i) EXPECT_GE(jpeg.rgba[i], 254) << i;
}

TEST_F(image_io_test, decoder_reasons_reach_the_message) {
    const std::string text = path("notes.txt");
    std::ofstream(text) << "this is not a picture\n";
    EXPECT_EQ(kelvane_solid(text.c_str(), out().c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "cannot decode '" + text + "': unknown image type");
    EXPECT_FALSE(exists(out()));
}

TEST_F(image_io_test, empty_decoder_reason_reads_as_unknown_error) {
    // A PNG whose first chunk after IHDR claims more bytes than the file holds: the decoder
    // fails with a reason that starts with NUL bytes.
    const Picture picture = solid_picture(1, 1, {1, 2, 3, 255});
    const std::string good = read_bytes(in(picture, "good.png"));
    std::string bad = good.substr(0, 8 + 25);  // signature and IHDR
    bad += std::string(
               "\x7f\xff\xff\xf0"
               "tEXt",
               8) +
           "abc";
    const std::string file = path("bad.png");
    std::ofstream(file, std::ios::binary) << bad;
    EXPECT_EQ(kelvane_solid(file.c_str(), out().c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "cannot decode '" + file + "': unknown error");
}

TEST_F(image_io_test, inputs_up_to_32768_a_side_load) {
    const std::string wide = in(solid_picture(32768, 1, {1, 2, 3, 4}), "wide.png");
    ASSERT_EQ(kelvane_solid(wide.c_str(), out().c_str(), 0, 0, 0, 0), 1) << last_error();
    EXPECT_EQ(read_rgba(out()).width, 32768);

    const std::string wider = in(solid_picture(32769, 1, {1, 2, 3, 4}), "wider.png");
    EXPECT_EQ(kelvane_solid(wider.c_str(), out("x.png").c_str(), 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "image too large: 32769x1");
    const std::string taller = in(solid_picture(1, 32769, {1, 2, 3, 4}), "taller.png");
    EXPECT_EQ(kelvane_padding(taller.c_str(), out("x.png").c_str(), 0, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), "image too large: 1x32769");
    EXPECT_FALSE(exists(out("x.png")));
}

TEST_F(image_io_test, greyscale_input_loads_as_opaque_rgba) {
    const std::string file = path("grey.png");
    const std::uint8_t grey[3] = {0, 128, 255};
    ASSERT_NE(stbi_write_png(file.c_str(), 3, 1, 1, grey, 0), 0);
    kelvane::Image image;
    ASSERT_EQ(kelvane::load_image(file.c_str(), image), 1);
    EXPECT_EQ(image.channels, 1);
    const std::vector<std::uint8_t> pixels(image.pixels.get(), image.pixels.get() + 12);
    EXPECT_EQ(pixels,
              (std::vector<std::uint8_t>{0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255}));
}

// A picture that claims the given size but holds a single pixel: the encoder bounds must
// refuse it before anything reads its pixels.
kelvane::Image unwritable(int w, int h) {
    kelvane::Image image;
    image.width = w;
    image.height = h;
    image.channels = 4;
    image.pixels = kelvane::alloc_pixels(1, 1, 4);
    return image;
}

TEST_F(image_io_test, pictures_beyond_the_encoders_reach_are_refused) {
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

TEST_F(image_io_test, encoder_bounds_admit_what_fits) {
    EXPECT_TRUE(kelvane::encoder_can_write("a.jpg", 65535, 10000));
    EXPECT_FALSE(kelvane::encoder_can_write("a.jpg", 65535, 11000));  // 3wh past INT_MAX
    EXPECT_TRUE(kelvane::encoder_can_write("a.png", 32768, 10922));
    EXPECT_FALSE(kelvane::encoder_can_write("a.png", 32768, 10923));
    EXPECT_TRUE(kelvane::encoder_can_write("a.bmp", 23170, 30893));  // rows padded to 69512
    EXPECT_FALSE(kelvane::encoder_can_write("a.bmp", 23170, 30894));
}

}  // namespace

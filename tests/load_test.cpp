// Loading files that the decoder as Debian ships it (stb_image 2.27) gets wrong: 16-bit PGM and
// PPM, PSD composites with alpha, pictures without pixels.
#include <kelvane.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <fstream>
#include <string>

#include "image_read.hpp"
#include "image_write.hpp"
#include "support/fixture.hpp"

using namespace kelvane_test;

namespace {

class load_test : public ScratchTest {
  protected:
    std::string file(const std::string &name, const std::string &bytes) const {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // The file as the library decodes it.
    Picture load(const std::string &p) const {
        kelvane::Image image;
        if (!kelvane::load_image(p.c_str(), image)) return Picture{};
        const std::uint8_t *px = image.pixels.get();
        const std::size_t bytes = std::size_t(image.width) * std::size_t(image.height) * 4;
        return {image.width, image.height, image.channels, {px, px + bytes}};
    }
};

std::string be16(int v) { return {char(v >> 8), char(v & 255)}; }
std::string be32(std::uint32_t v) { return be16(int(v >> 16)) + be16(int(v & 0xffff)); }

// A PSD: RGB colour mode, empty sections, the planes given (one string per channel).
std::string psd(int width, int height, int depth, int compression,
                const std::vector<std::string> &planes, int channels = -1) {
    std::string s = "8BPS" + be16(1) + std::string(6, '\0');
    s += be16(channels < 0 ? int(planes.size()) : channels) + be32(std::uint32_t(height)) +
         be32(std::uint32_t(width)) + be16(depth) + be16(3);
    s += be32(0) + be32(0) + be32(0) + be16(compression);
    for (const std::string &plane : planes) s += plane;
    return s;
}

TEST_F(load_test, sixteen_bit_pnm_takes_each_samples_high_byte) {
    const std::string pgm =
        file("grey.pgm", "P5 3 1 65535\n" + be16(0x1234) + be16(0xff00) + be16(0x00ff));
    const Picture grey = load(pgm);
    ASSERT_EQ(grey.width, 3);
    EXPECT_EQ(grey.channels, 1);
    EXPECT_EQ(grey.rgba, (std::vector<std::uint8_t>{0x12, 0x12, 0x12, 255, 0xff, 0xff, 0xff, 255, 0,
                                                    0, 0, 255}));
    const std::string ppm =
        file("colour.ppm", "P6\n2 1\n65535\n" + be16(0x0102) + be16(0x0304) + be16(0x0506) +
                               be16(0xa0a1) + be16(0xb0b1) + be16(0xc0c1));
    const Picture colour = load(ppm);
    ASSERT_EQ(colour.width, 2);
    EXPECT_EQ(colour.channels, 3);
    EXPECT_EQ(colour.rgba, (std::vector<std::uint8_t>{1, 3, 5, 255, 0xa0, 0xb0, 0xc0, 255}));
    // 8-bit files still go through the decoder's usual path.
    EXPECT_EQ(load(file("eight.pgm", "P5 2 1 255\n\x07\x09")).rgba,
              (std::vector<std::uint8_t>{7, 7, 7, 255, 9, 9, 9, 255}));
}

TEST_F(load_test, jpeg_whose_huffman_table_overruns_the_decoder_is_refused) {
    const std::uint8_t pixels[4 * 4 * 3] = {200, 10, 30};
    const std::string good = path("good.jpg");
    ASSERT_NE(stbi_write_jpg(good.c_str(), 4, 4, 3, pixels, 90), 0);
    std::string bytes = read_bytes(good);
    const std::size_t dht = bytes.find("\xFF\xC4");
    ASSERT_NE(dht, std::string::npos);
    // After the marker, its length and the table's class byte come 16 code counts: 16 x 255
    // codes where a table holds 256 at most.
    for (std::size_t i = 0; i < 16; ++i) bytes[dht + 5 + i] = '\xFF';
    // Also behind fill bytes before the start marker, and with the counts cut by the file's end
    // (the decoder reads what is missing as zeros).
    for (const std::string &variant : {bytes, "\xFF\xFF" + bytes, bytes.substr(0, dht + 5 + 8)}) {
        const std::string bad = file("bad.jpg", variant);
        EXPECT_EQ(kelvane_solid(bad.c_str(), out().c_str(), 1, 0, 0, 0), 0);
        EXPECT_EQ(std::string(kelvane_last_error()), "cannot decode '" + bad + "': bad DHT header");
    }

    EXPECT_EQ(load(good).width, 4);  // the untouched file still loads
}

TEST_F(load_test, png_data_claimed_past_the_end_of_the_file_is_refused_unread) {
    const std::uint8_t pixel[4] = {1, 2, 3, 4};
    ASSERT_NE(stbi_write_png(path("good.png").c_str(), 1, 1, 4, pixel, 0), 0);
    std::string bytes = read_bytes(path("good.png"));
    const std::size_t idat = bytes.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    bytes.replace(idat - 4, 4, "\x7f\xff\xff\xf0");  // about 2 GiB of data, in a tiny file
    const std::string bad = file("bad.png", bytes);
    EXPECT_EQ(kelvane_rounded(bad.c_str(), out().c_str(), 1), 0);
    EXPECT_EQ(std::string(kelvane_last_error()), "cannot decode '" + bad + "': outofdata");
}

TEST_F(load_test, hdr_whose_runs_never_end_is_refused) {
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 8\n";
    std::string runs = std::string("\x02\x02\x00\x08", 4);
    for (int channel = 0; channel < 4; ++channel) runs += "\x88\x80";  // 8 x 128 per channel
    EXPECT_EQ(load(file("good.hdr", header + runs)).width, 8);
    // A dump of 0 bytes, and a file that ends inside a run (read as zeros): the decoder would
    // loop for ever on either.
    const std::string scanline = std::string("\x02\x02\x00\x08", 4);
    for (const std::string &bad :
         {header + scanline + std::string(1, '\0'), header + scanline + "\x84\x10"}) {
        const std::string p = file("bad.hdr", bad);
        EXPECT_EQ(kelvane_padding(p.c_str(), out().c_str(), 1, 0, 0, 0), 0);
        EXPECT_EQ(std::string(kelvane_last_error()), "cannot decode '" + p + "': corrupt");
    }
    EXPECT_FALSE(exists(out()));
}

TEST_F(load_test, psd_alpha_unmatting_is_held_to_a_byte) {
    // Pixels: black at alpha 128 (not matted: stb's un-matted value is far below 0), a matted
    // colour at alpha 128, and alpha 0 and 255, which are left alone.
    const std::vector<std::string> planes = {
        std::string("\x00\xc8\x05\x06", 4), std::string("\x00\xa0\x07\x08", 4),
        std::string("\x00\x90\x09\x0a", 4), std::string("\x80\x80\x00\xff", 4)};
    const Picture raw = load(file("raw.psd", psd(4, 1, 8, 0, planes)));
    ASSERT_EQ(raw.width, 4);
    // (200 - 127) / 0.502 = 145.4, (160 - 127) / 0.502 = 65.7, (144 - 127) / 0.502 = 33.9
    EXPECT_EQ(raw.rgba, (std::vector<std::uint8_t>{0, 0, 0, 128, 145, 65, 33, 128, 5, 7, 9, 0, 6, 8,
                                                   10, 255}));
    // PackBits: a literal run of 4 per plane, then the same file with a repeat run for alpha.
    std::vector<std::string> packed;
    for (const std::string &plane : planes) packed.push_back(std::string(1, '\x03') + plane);
    const std::string counts = be16(5) + be16(5) + be16(5) + be16(5);
    const Picture rle = load(
        file("rle.psd", psd(4, 1, 8, 1, {counts + packed[0], packed[1], packed[2], packed[3]}, 4)));
    EXPECT_EQ(rle.rgba, raw.rgba);
}

TEST_F(load_test, matted_psd_decodes_as_the_decoder_does) {
    // Colours no darker than the white matte allows: stb's own result is defined here.
    std::vector<std::string> planes(4);
    for (int i = 0; i < 64; ++i) {
        const int alpha = i * 4 + 3, floor = 255 - alpha;
        for (int c = 0; c < 3; ++c)
            planes[std::size_t(c)] += char(floor + (i * (c + 3)) % (alpha + 1));
        planes[3] += char(alpha);
    }
    const std::string p = file("matted.psd", psd(8, 8, 8, 0, planes));
    int w = 0, h = 0, n = 0;
    stbi_uc *reference = stbi_load(p.c_str(), &w, &h, &n, 4);
    ASSERT_NE(reference, nullptr);
    const std::vector<std::uint8_t> want(reference, reference + 8 * 8 * 4);
    stbi_image_free(reference);
    EXPECT_EQ(load(p).rgba, want);
}

TEST_F(load_test, damaged_psd_gets_the_decoders_reasons) {
    const std::string plane(4, '\x10');
    const struct {
        std::string bytes;
        const char *reason;
    } cases[] = {
        {psd(2, 2, 8, 0, {plane, plane, plane, plane}, 17), "wrong channel count"},
        {psd(2, 2, 12, 0, {plane, plane, plane, plane}), "unsupported bit depth"},
        {psd(2, 2, 8, 2, {plane, plane, plane, plane}), "bad compression"},
        {psd(2, 2, 8, 1, {std::string(16, '\0') + "\x7f"}, 4), "corrupt"},  // run of 128 > 4
        {psd(40000000, 1, 8, 0, {plane}, 4), "too large"},
        {psd(2, 0, 8, 0, {plane}, 4), "no pixels"},
    };
    for (const auto &c : cases) {
        const std::string p = file("bad.psd", c.bytes);
        EXPECT_EQ(kelvane_rounded(p.c_str(), out().c_str(), 1), 0) << c.reason;
        EXPECT_EQ(std::string(kelvane_last_error()), "cannot decode '" + p + "': " + c.reason);
    }
    EXPECT_FALSE(exists(out()));
}

}  // namespace

// Loading: the decoder's reasons, the size limit, and the files that the decoder as Debian ships
// it (stb_image 2.27) gets wrong: 16-bit PGM and PPM, PSD composites with alpha, pictures
// without pixels.
#include "read/image_read.hpp"

#include <kelvane.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <string>

#include "support/fixture.hpp"
#include "support/formats.hpp"

using namespace kelvane_test;

namespace {

class image_read_test : public ScratchTest {};

TEST_F(image_read_test, decoder_reasons_reach_the_message) {
    const std::string text = file("notes.txt", "this is not a picture\n");
    EXPECT_EQ(kelvane_solid(text.c_str(), out().c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(text, "unknown image type"));
    EXPECT_FALSE(exists(out()));
}

TEST_F(image_read_test, empty_decoder_reason_reads_as_unknown_error) {
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
    const std::string input = file("bad.png", bad);
    EXPECT_EQ(kelvane_solid(input.c_str(), out().c_str(), 1, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(input, "unknown error"));
}

TEST_F(image_read_test, inputs_up_to_32768_a_side_load) {
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

TEST_F(image_read_test, greyscale_input_loads_as_opaque_rgba) {
    const std::string grey_png = path("grey.png");
    const std::uint8_t grey[3] = {0, 128, 255};
    ASSERT_NE(stbi_write_png(grey_png.c_str(), 3, 1, 1, grey, 0), 0);
    const Picture loaded = library_load(grey_png);
    EXPECT_EQ(loaded.channels, 1);
    EXPECT_EQ(loaded.rgba,
              (std::vector<std::uint8_t>{0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255}));
}

TEST_F(image_read_test, sixteen_bit_pnm_takes_each_samples_high_byte) {
    const std::string pgm =
        file("grey.pgm", "P5 3 1 65535\n" + be16(0x1234) + be16(0xff00) + be16(0x00ff));
    const Picture grey = library_load(pgm);
    ASSERT_EQ(grey.width, 3);
    EXPECT_EQ(grey.channels, 1);
    EXPECT_EQ(grey.rgba, (std::vector<std::uint8_t>{0x12, 0x12, 0x12, 255, 0xff, 0xff, 0xff, 255, 0,
                                                    0, 0, 255}));
    const std::string ppm =
        file("colour.ppm", "P6\n2 1\n65535\n" + be16(0x0102) + be16(0x0304) + be16(0x0506) +
                               be16(0xa0a1) + be16(0xb0b1) + be16(0xc0c1));
    const Picture colour = library_load(ppm);
    ASSERT_EQ(colour.width, 2);
    EXPECT_EQ(colour.channels, 3);
    EXPECT_EQ(colour.rgba, (std::vector<std::uint8_t>{1, 3, 5, 255, 0xa0, 0xb0, 0xc0, 255}));
    // 8-bit files still go through the decoder's usual path.
    EXPECT_EQ(library_load(file("eight.pgm", "P5 2 1 255\n\x07\x09")).rgba,
              (std::vector<std::uint8_t>{7, 7, 7, 255, 9, 9, 9, 255}));
}

TEST_F(image_read_test, jpeg_whose_huffman_table_overruns_the_decoder_is_refused) {
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
        EXPECT_EQ(last_error(), decode_failure(bad, "bad DHT header"));
    }

    EXPECT_EQ(library_load(good).width, 4);  // the untouched file still loads
}

TEST_F(image_read_test, png_data_claimed_past_the_end_of_the_file_is_refused_unread) {
    const std::uint8_t pixel[4] = {1, 2, 3, 4};
    ASSERT_NE(stbi_write_png(path("good.png").c_str(), 1, 1, 4, pixel, 0), 0);
    std::string bytes = read_bytes(path("good.png"));
    const std::size_t idat = bytes.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    bytes.replace(idat - 4, 4, "\x7f\xff\xff\xf0");  // about 2 GiB of data, in a tiny file
    const std::string bad = file("bad.png", bytes);
    EXPECT_EQ(kelvane_rounded(bad.c_str(), out().c_str(), 1), 0);
    EXPECT_EQ(last_error(), decode_failure(bad, "outofdata"));
}

TEST_F(image_read_test, hdr_whose_runs_never_end_is_refused) {
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 8\n";
    std::string runs = std::string("\x02\x02\x00\x08", 4);
    for (int channel = 0; channel < 4; ++channel) runs += "\x88\x80";  // 8 x 128 per channel
    EXPECT_EQ(library_load(file("good.hdr", header + runs)).width, 8);
    // A dump of 0 bytes, and a file that ends inside a run (read as zeros): the decoder would
    // loop for ever on either.
    const std::string scanline = std::string("\x02\x02\x00\x08", 4);
    for (const std::string &bad :
         {header + scanline + std::string(1, '\0'), header + scanline + "\x84\x10"}) {
        const std::string p = file("bad.hdr", bad);
        EXPECT_EQ(kelvane_padding(p.c_str(), out().c_str(), 1, 0, 0, 0), 0);
        EXPECT_EQ(last_error(), decode_failure(p, "corrupt"));
    }
    EXPECT_FALSE(exists(out()));
}

TEST_F(image_read_test, psd_alpha_unmatting_is_held_to_a_byte) {
    // Pixels: black at alpha 128 (not matted: stb's un-matted value is far below 0), a matted
    // colour at alpha 128, and alpha 0 and 255, which are left alone.
    const std::vector<std::string> planes = {
        std::string("\x00\xc8\x05\x06", 4), std::string("\x00\xa0\x07\x08", 4),
        std::string("\x00\x90\x09\x0a", 4), std::string("\x80\x80\x00\xff", 4)};
    const Picture raw = library_load(file("raw.psd", psd(4, 1, 8, 0, planes)));
    ASSERT_EQ(raw.width, 4);
    // (200 - 127) / 0.502 = 145.4, (160 - 127) / 0.502 = 65.7, (144 - 127) / 0.502 = 33.9
    EXPECT_EQ(raw.rgba, (std::vector<std::uint8_t>{0, 0, 0, 128, 145, 65, 33, 128, 5, 7, 9, 0, 6, 8,
                                                   10, 255}));
    // PackBits: a literal run of 4 per plane, then the same file with a repeat run for alpha.
    std::vector<std::string> packed;
    for (const std::string &plane : planes) packed.push_back(std::string(1, '\x03') + plane);
    const std::string counts = be16(5) + be16(5) + be16(5) + be16(5);
    const Picture rle = library_load(
        file("rle.psd", psd(4, 1, 8, 1, {counts + packed[0], packed[1], packed[2], packed[3]}, 4)));
    EXPECT_EQ(rle.rgba, raw.rgba);
}

TEST_F(image_read_test, matted_psd_decodes_as_the_decoder_does) {
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
    EXPECT_EQ(library_load(p).rgba, want);
}

TEST_F(image_read_test, damaged_psd_gets_the_decoders_reasons) {
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
        EXPECT_EQ(last_error(), decode_failure(p, "") + c.reason);
    }
    EXPECT_FALSE(exists(out()));
}

}  // namespace

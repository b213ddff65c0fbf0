// The library's zlib compressor and CRC against stb's own, byte for byte: generated data of every
// kind that the parse tells apart, and whole PNG files of the corpus's pictures.
#include "write/png_compressor.hpp"

#include <stb_image_write.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "support/fixture.hpp"
#include "support/generated.hpp"
#include "support/stock_stb.hpp"
#include "write/image_write.hpp"
#include "write/writer_memory.hpp"

using namespace kelvane_test;

namespace {

// The library's stream, from a buffer of exactly the data's size (so that AddressSanitizer sees
// a read past its end).
std::string fast_zlib(const std::string &data, int quality) {
    std::vector<unsigned char> exact(data.begin(), data.end());
    int length = 0;
    unsigned char *z =
        kelvane::png_zlib_compress(exact.data(), int(exact.size()), &length, quality);
    if (!z) return "(refused)";
    std::string out(reinterpret_cast<const char *>(z), std::size_t(length));
    kelvane::writer_free(z);
    return out;
}

// Where two byte strings first differ ("" when they are equal): a compact failure message.
std::string difference(const std::string &got, const std::string &want) {
    if (got == want) return "";
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return "differ at byte " + std::to_string(at) + " of " + std::to_string(got.size()) + " and " +
           std::to_string(want.size());
}

enum class Kind { random, zeros, runs, two_symbols, four_symbols, words, periodic, count };

std::string generate(Kind kind, std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    std::vector<std::string> words;
    for (int i = 0; i < 16; ++i) words.push_back(std::string(3 + random() % 6, char(random())));
    for (std::size_t i = 0; i < size;) {
        switch (kind) {
            case Kind::random:
                s[i++] = char(random());
                break;
            case Kind::zeros:
                ++i;
                break;
            case Kind::runs:
                for (std::size_t n = 1 + random() % 300, b = random(); n > 0 && i < size; --n)
                    s[i++] = char(b);
                break;
            case Kind::two_symbols:
            case Kind::four_symbols:
                s[i++] = char('a' + random() % (kind == Kind::two_symbols ? 2 : 4));
                break;
            case Kind::words:
                for (const char c : words[random() % 16])
                    if (i < size) s[i++] = c;
                break;
            default:
                s[i] = char(i % (1 + seed % 50));
                ++i;
        }
    }
    return s;
}

TEST(png_compressor_test, writes_stbs_stream_for_generated_data) {
    int cases = 0;
    auto same = [&](const std::string &data, int quality, const std::string &what) {
        ++cases;
        ASSERT_EQ(difference(fast_zlib(data, quality), stock::zlib(data, quality)), "")
            << what << ", " << data.size() << " bytes, quality " << quality;
    };
    for (int k = 0; k < int(Kind::count); ++k) {
        const Kind kind = Kind(k);
        const std::string name = "kind " + std::to_string(k);
        // Every length up to beyond the longest match, at the qualities around the default.
        for (std::size_t size = 0; size <= 300; ++size)
            for (unsigned seed = 1; seed <= 3; ++seed)
                for (int quality : {5, 8, 13}) same(generate(kind, size, seed), quality, name);
        // Long inputs, past the window; qualities below 5 (taken as 5) and around the fast
        // parse's limit (64; stb's own compressor above).
        for (std::size_t size : {4096, 40000, 70000, 200000})
            for (int quality : {1, 5, 8, 13, 64, 65}) same(generate(kind, size, 7), quality, name);
    }
    // Copies from either side of the window's edge, of every length class.
    const std::string noise = generate(Kind::random, 40000, 11);
    for (int distance = 32760; distance <= 32775; ++distance)
        for (int length : {3, 4, 7, 8, 9, 100, 257, 258, 259, 300}) {
            std::string data = noise;
            data += data.substr(data.size() - std::size_t(distance), std::size_t(length));
            data += noise.substr(0, 50);
            for (int quality : {5, 8, 13})
                same(data, quality, "copy from " + std::to_string(distance));
        }
    // A string that recurs after long gaps, around the window and around 65536: what a bucket
    // keeps of a position must tell those distances apart.
    for (int gap : {32766, 32767, 32768, 32769, 65535, 65536, 65537, 98304}) {
        std::string data = "abcdefgh";
        for (int k = 0; k < 3; ++k) {
            const std::string filler = generate(Kind::random, std::size_t(gap), unsigned(gap + k));
            for (const char c : filler) data += char(0x80 | std::uint8_t(c));
            data += k == 1 ? "abcdXY" : "abcdefgh";
        }
        for (int quality : {5, 8}) same(data, quality, "recurring after " + std::to_string(gap));
    }
    // Two neighbours in a bucket 66636 apart (A, B), and at A + 65536, where a 16-bit position
    // of A would point, the same string inside a copy, where no search started: a position taken
    // for A's there would give C a longer match than stb finds. Runs of 0xFF fill the gaps, so
    // that no other position joins the bucket.
    {
        std::string x = generate(Kind::random, 1000, 1);
        for (char &c : x) c = char(0x80 | std::uint8_t(c));
        const std::string t = "abcdefgh";
        x.replace(400, t.size(), t);
        std::string data;
        const auto place = [&](std::size_t at, const std::string &s) {
            data += std::string(at - data.size(), '\xff') + s;
        };
        const std::size_t a = 1100, b = a + 65536 + 1100;
        place(0, x);
        place(a - 1, "W" + t);
        place(31000, x);  // copies, each within the window of the one before
        place(61000, x);
        place(a + 65536 - 400, x);
        place(b - 1, "Y" + t);
        place(b + 49, "Z" + t + x.substr(408, 60));  // C
        for (int quality : {5, 8}) same(data, quality, "a 16-bit alias");
    }
    EXPECT_GE(cases, 13000);
}

TEST(png_compressor_test, crc_is_the_zlib_crc) {
    // CRC-32 check values: "123456789" and chunk types of real PNGs.
    std::string digits = "123456789", iend = "IEND";
    EXPECT_EQ(kelvane::png_crc32(reinterpret_cast<unsigned char *>(digits.data()), 9), 0xCBF43926u);
    EXPECT_EQ(kelvane::png_crc32(reinterpret_cast<unsigned char *>(iend.data()), 4), 0xAE426082u);
    const std::string data = generate(Kind::words, 100003, 5);
    std::uint32_t crc = ~0u;  // bit by bit, the definition
    for (const char c : data) {
        crc ^= std::uint8_t(c);
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    std::vector<unsigned char> copy(data.begin(), data.end());
    EXPECT_EQ(kelvane::png_crc32(copy.data(), int(copy.size())), ~crc);
}

// The corpus's pictures, and the same with a border, written by the library and by stock stb at
// three compression levels: whole PNG files, byte for byte.
class png_compressor_files_test : public ScratchTest {};

// Photograph-like pictures, from smooth to pure noise, and random pictures with alpha: where the
// compressor meets short matches and full buckets, written whole through the library's writer.
TEST_F(png_compressor_files_test, writes_stbs_png_files_for_photographs) {
#ifdef KELVANE_FAST_PNG
    GTEST_SKIP() << "the fast PNG build writes libdeflate's streams, not stb's";
#endif
    std::mt19937 rng(20261209);
    const std::string scratch = path("out.png");
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 7}, {97, 61}, {640, 480}, {1203, 901}};
    for (const auto &[w, h] : sizes)
        for (int noise : {-1, 0, 3, 8, 30, 128}) {
            const Picture picture =
                noise < 0 ? random_picture(rng, w, h) : photo_picture(rng, w, h, noise);
            kelvane::Image image = image_of(picture);
            ASSERT_EQ(kelvane::save_image(scratch.c_str(), image), 1);
            ASSERT_EQ(difference(read_bytes(scratch),
                                 stock::png(picture.width, picture.height, picture.rgba.data(), 8)),
                      "")
                << w << "x" << h << " noise " << noise;
        }
}

TEST_F(png_compressor_files_test, writes_stbs_png_files_for_the_corpus) {
#ifdef KELVANE_FAST_PNG
    GTEST_SKIP() << "the fast PNG build writes libdeflate's streams, not stb's";
#endif
    const std::filesystem::path dir = testdata_dir();
    if (dir.empty()) GTEST_SKIP() << no_testdata_reason();
    std::ifstream table(dir / "expected-decode.tsv");
    std::string line, name;
    std::getline(table, line);
    const std::string scratch = path("out.png");
    int pictures = 0;
    while (std::getline(table, line)) {
        std::istringstream(line) >> name;
        const Picture loaded = library_load((dir / name).string());
        if (loaded.width == 0) continue;
        ++pictures;
        const int w = loaded.width, h = loaded.height;
        const Picture framed = [&] {
            Picture p = solid_picture(w + 14, h + 14, {200, 200, 200, 200});
            for (int y = 0; y < h; ++y)
                std::memcpy(&p.rgba[(std::size_t(y + 7) * std::size_t(w + 14) + 7) * 4],
                            &loaded.rgba[std::size_t(y) * std::size_t(w) * 4], std::size_t(w) * 4);
            return p;
        }();
        for (const Picture *picture : {&loaded, &framed})
            for (int level : {5, 8, 13}) {
                kelvane::Image image = image_of(*picture);
                stbi_write_png_compression_level = level;
                ASSERT_EQ(kelvane::save_image(scratch.c_str(), image), 1);
                stbi_write_png_compression_level = 8;
                ASSERT_EQ(
                    difference(read_bytes(scratch), stock::png(picture->width, picture->height,
                                                               picture->rgba.data(), level)),
                    "")
                    << name << " " << picture->width << "x" << picture->height << " level "
                    << level;
            }
    }
    EXPECT_GT(pictures, 250);
}

}  // namespace

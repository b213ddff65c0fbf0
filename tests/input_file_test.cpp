// Reading the input: once, from files and pipes alike; files that cannot hold the pixels they
// claim are refused before the picture is allocated; every operation fits a small stack.
#include <kelvane.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "support/fixture.hpp"
#include "support/formats.hpp"

using namespace kelvane_test;

namespace {

class input_file_test : public ScratchTest {};

// A JPEG frame header (SOF0 or SOF2) of one grey component.
std::string jpeg_frame(int marker, int width, int height) {
    return "\xFF\xD8\xFF" + std::string(1, char(marker)) + be16(11) + "\x08" + be16(height) +
           be16(width) + std::string("\x01\x01\x11\x00", 4);
}
std::string jpeg_scan(const std::string &data) {
    return std::string("\xFF\xDA", 2) + be16(8) + std::string("\x01\x01\x00\x00\x3F\x00", 6) + data;
}

TEST_F(input_file_test, a_picture_through_a_pipe_decodes_as_from_a_file) {
    const std::string jpeg = jpeg_of(noise_picture(40, 30, 1));
    const std::string stored = file("in.jpg", jpeg);
    ASSERT_EQ(kelvane_solid(stored.c_str(), path("from-file.png").c_str(), 2, 0, 0, 0), 1);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::thread writer([&] {
        (void)!write(ends[1], jpeg.data(), jpeg.size());
        close(ends[1]);
    });
    const std::string piped = "/dev/fd/" + std::to_string(ends[0]);
    EXPECT_EQ(kelvane_solid(piped.c_str(), path("from-pipe.png").c_str(), 2, 0, 0, 0), 1)
        << last_error();
    writer.join();
    close(ends[0]);
    EXPECT_EQ(read_bytes(path("from-pipe.png")), read_bytes(path("from-file.png")));
    // A FIFO can be read once only: the checks and the decoder share what was read.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::thread fifo_writer([&] { write_bytes(path("fifo"), jpeg); });
    EXPECT_EQ(kelvane_solid(path("fifo").c_str(), path("from-fifo.png").c_str(), 2, 0, 0, 0), 1);
    fifo_writer.join();
    EXPECT_EQ(read_bytes(path("from-fifo.png")), read_bytes(path("from-file.png")));
    // Nothing to read still reads as it did.
    EXPECT_EQ(kelvane_solid(path("missing.jpg").c_str(), path("x.png").c_str(), 2, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(path("missing.jpg"), "can't fopen"));
    EXPECT_EQ(kelvane_solid(dir_.c_str(), path("x.png").c_str(), 2, 0, 0, 0), 0);
    EXPECT_EQ(last_error(), decode_failure(dir_.string(), "can't fopen"));
}

// A PNG's signature and header chunk, of 8-bit RGBA.
std::string png_start(int width, int height) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(width) + be32(height) +
           std::string("\x08\x06\0\0\0", 5) + be32(0);
}

TEST_F(input_file_test, files_claiming_more_than_they_hold_are_refused) {
    std::string many_scans = jpeg_frame(0xC2, 8, 8);
    for (int i = 0; i < 1001; ++i) many_scans += jpeg_scan(std::string(1, '\0'));
    const struct {
        const char *name, *reason;
        std::string bytes;
    } cases[] = {
        {"no-scan.jpg", "no scans", jpeg_frame(0xC2, 30000, 20000) + "\xFF\xD9"},
        {"tiny-scan.jpg", "truncated",
         jpeg_frame(0xC0, 30000, 20000) + jpeg_scan("\x12\x34") + "\xFF\xD9"},
        {"many-scans.jpg", "too many scans", many_scans + "\xFF\xD9"},
        {"rle.tga", "truncated",
         std::string("\0\0\x0A", 3) + std::string(9, '\0') + le16(32768) + le16(16383) +
             "\x20\x08"},
        {"raw.psd", "truncated", psd(30000, 17000, 8, 0, {}, 3)},
        {"raw.ppm", "truncated", "P6 20000 20000 255\n"},
        {"raw.bmp", "truncated",
         bmp_of(solid_picture(20000, 1, {1, 2, 3, 255})).substr(0, 54).replace(22, 4, le32(20000))},
        {"screen.gif", "truncated",
         gif_of(solid_picture(1, 1, {9, 9, 9, 255})).replace(6, 4, le16(65535) + le16(8000))},
        {"raw.pic", "truncated",
         pic_of(solid_picture(1, 1, {1, 2, 3, 4})).replace(92, 4, be16(32767) + be16(16000))},
        {"flat.hdr", "truncated", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 10000000 +X 4\n"},
        {"idat.png", "outofdata",  // with a text chunk, so that the file is read in two steps
         std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(30000) + be32(17000) +
             std::string("\x08\x06\0\0\0", 5) + be32(0) + be32(300) + "tEXt" +
             std::string(304, 'x') + be32(0xAE000000u) + "IDAT"},
        // A chunk whose length reads as a negative int sends the decoder to the end of its
        // 128-byte buffer, where an IDAT claims a gigabyte: first in the buffer the signature
        // filled, then in the one filled after a chunk skipped past the buffer.
        {"skip-to-idat.png", "outofdata",
         png_start(8, 8) + be32(0x80000000u) + "teXt" + std::string(87 + 4, 'x') +
             be32(0x3FFFFFF0u) + "IDAT"},
        {"skip-after-text.png", "outofdata",
         png_start(8, 8) + be32(300) + "tEXt" + std::string(304, 'x') + be32(0xBABABABAu) +
             "\xBA\xBA\xBA\xBA" + std::string(116 + 4, 'x') + be32(0x3FFFFFF0u) + "IDAT"},
    };
    // Each in a process of 1 GiB: a decoder that allocated the picture first would say
    // "outofmem" (or, for the buffer of the file, the reading would).
    for (const auto &c : cases) {
        const std::string input = file(c.name, c.bytes);
        const ChildResult child = in_child([&] {
            limit_address_space(std::size_t(1) << 30);
            return kelvane_rounded(input.c_str(), out().c_str(), 3);
        });
        EXPECT_EQ(child.result, 0) << c.name;
        EXPECT_EQ(child.message, decode_failure(input, c.reason)) << c.name;
        EXPECT_FALSE(exists(out()));
    }
    if (const std::string why = address_limit_unavailable(); !why.empty())
        GTEST_SKIP() << "the reasons are checked, but not within 1 GiB: " << why;
}

TEST_F(input_file_test, truncated_files_are_refused_and_whole_ones_decode) {
    const Picture picture = noise_picture(9, 7, 3);
    const struct {
        const char *name;
        std::string bytes;
        bool last_byte_is_data;
    } cases[] = {
        {"a.bmp", bmp_of(picture), false},  // the last row's padding is never read
        {"raw.tga", tga_of(picture, false), true}, {"rle.tga", tga_of(picture, true), true},
        {"raw.psd", psd_of(picture, false), true}, {"packed.psd", psd_of(picture, true), true},
        {"a.ppm", ppm_of(picture), true},          {"a.pic", pic_of(picture), true},
        {"a.gif", gif_of(picture), false},  // the file ends with a terminator and a trailer
        {"a.hdr", flat_hdr_of(picture), true},
    };
    for (const auto &c : cases) {
        const std::string whole = file(c.name, c.bytes);
        ASSERT_EQ(kelvane_rounded(whole.c_str(), out().c_str(), 0), 1) << c.name << last_error();
        EXPECT_EQ(read_rgba(out()).width, 9) << c.name;
        std::vector<std::size_t> cuts{c.bytes.size() - 4, c.bytes.size() - 9};
        if (c.last_byte_is_data) cuts.push_back(c.bytes.size() - 1);
        for (const std::size_t cut : cuts) {
            const std::string input = file(std::string("cut-") + c.name, c.bytes.substr(0, cut));
            EXPECT_EQ(kelvane_rounded(input.c_str(), out("cut.png").c_str(), 0), 0)
                << c.name << " cut at " << cut;
            EXPECT_EQ(last_error(), decode_failure(input, "truncated"))
                << c.name << " cut at " << cut;
        }
    }
}

TEST_F(input_file_test, a_file_refused_after_its_first_bytes_is_read_no_further) {
    // A gigabyte of holes behind a PNG signature: the first chunk is refused, so the reading
    // stops within the first megabytes.
    const std::string input = file("sparse.png", "\x89PNG\r\n\x1a\n");
    std::filesystem::resize_file(input, std::uintmax_t(1) << 30);
    const ChildResult child = in_child([&] {
        if (kelvane_rounded(input.c_str(), out().c_str(), 3) != 0) return -1;
        rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        return int(usage.ru_maxrss / 1024);  // MiB
    });
    EXPECT_EQ(child.message, decode_failure(input, "first not IHDR"));
    if (address_limit_unavailable().empty()) {
        EXPECT_LT(child.result, 100) << "MiB at the peak";
    }
}

TEST_F(input_file_test, pictures_of_one_colour_still_decode_from_small_files) {
    // The most a legitimate file expands to: each bound above keeps well clear of it.
    const Picture flat = solid_picture(2048, 2048, {30, 60, 90, 255});
    for (const auto &[name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"flat.jpg", jpeg_of(flat)}, {"flat.tga", tga_of(flat, true)}}) {
        const std::string input = file(name, bytes);
        ASSERT_EQ(kelvane_rounded(input.c_str(), out().c_str(), 0), 1) << name << last_error();
        EXPECT_EQ(read_rgba(out()).height, 2048);
    }
}

// Runs `job` on a thread with a stack of `bytes`.
int on_small_stack(std::size_t bytes, const std::function<int()> &job) {
    struct Call {
        const std::function<int()> *job;
        int result;
    } call{&job, -1};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    auto run = [](void *p) -> void * {
        auto *c = static_cast<Call *>(p);
        c->result = (*c->job)();
        return nullptr;
    };
    if (pthread_create(&thread, &attributes, run, &call) != 0) return -2;
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return call.result;
}

TEST_F(input_file_test, every_operation_runs_on_a_64_KiB_stack) {
    // AddressSanitizer's instrumentation takes far more stack than the code itself.
    const std::size_t stack = KELVANE_TEST_ADDRESS_SANITIZER ? 1 << 20 : 1 << 16;
    const Picture picture = noise_picture(64, 48, 5);
    // GIF: stb's decoder keeps its 32 KiB code table on the stack, and recurses once for each
    // code of an LZW chain, which an area of one colour makes thousands long.
    const std::string png = in(picture), jpeg = file("in.jpg", jpeg_of(picture)),
                      gif = file("in.gif", gif_of(picture)),
                      flat = file("flat.gif", lzw_gif_of(solid_picture(600, 600, {7, 7, 7, 255})));
    const std::string largest =
        file("flat-3000.gif", lzw_gif_of(solid_picture(3000, 3000, {7, 7, 7, 255})));
    const std::string bmp = path("largest.bmp");
    EXPECT_EQ(
        on_small_stack(stack, [&] { return kelvane_rounded(largest.c_str(), bmp.c_str(), 0); }), 1)
        << last_error();
    EXPECT_EQ(read_rgba(bmp).at(2999, 2999), (std::vector<std::uint8_t>{7, 7, 7, 255}));
    for (const std::string &input : {png, jpeg, gif, flat})
        for (const std::string output : {"out.png", "out.jpg"}) {
            const std::string i = input, o = path(output);
            const std::function<int()> jobs[] = {
                [&] { return kelvane_solid(i.c_str(), o.c_str(), 4, 1, 2, 3); },
                [&] { return kelvane_padding(i.c_str(), o.c_str(), 4, 1, 2, 3); },
                [&] { return kelvane_sides(i.c_str(), o.c_str(), 1, 2, 3, 4, 1, 2, 3); },
                [&] { return kelvane_rounded(i.c_str(), o.c_str(), 9); },
                [&] { return kelvane_shadow(i.c_str(), o.c_str(), 5, -3, 7, 0, 0, 0); },
            };
            for (const auto &job : jobs)
                EXPECT_EQ(on_small_stack(stack, job), 1) << input << " -> " << output;
        }
}

}  // namespace

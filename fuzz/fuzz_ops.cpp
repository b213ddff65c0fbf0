// Fuzz target: the input's first 16 bytes choose an operation, the output format and the
// operation's ints; the rest is the input file. Each call must end in a clean 1 (and a file that
// decodes to the expected size) or 0 with a message and no file. Pictures larger than 256x256
// and accepted canvases of more than 256K pixels are skipped so that every run stays cheap; calls
// that the library refuses for their size still run, whatever the ints. stb is asked for the
// size only after the library's own checks of the file, which guard against its defects.
#include <kelvane.h>
#include <stb_image.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "read/image_read.hpp"
#include "read/input_checks.hpp"
#include "scratch.hpp"

namespace {

constexpr std::size_t header_size = 16;
constexpr std::int64_t canvas_budget = 1 << 18;

// Ints mostly small, but every boundary the library checks appears too.
int int_from(std::uint8_t kind, std::uint8_t value) {
    static const int special[] = {
        INT_MIN, INT_MIN + 1, -65537, -65536, -32769,        -32768,  -257,        -1,
        0,       1,           255,    256,    257,           32767,   32768,       32769,
        65534,   65535,       65536,  65537,  (1 << 30) - 1, 1 << 30, INT_MAX - 1, INT_MAX};
    switch (kind % 8) {
        case 5:
            return special[value % (sizeof special / sizeof special[0])];
        case 6:
            return value * 64;
        case 7:
            return std::int8_t(value) * 256;
        default:
            return std::int8_t(value);
    }
}

struct Call {
    int op;           // 0 solid, 1 padding, 2 sides, 3 rounded, 4 shadow
    const char *ext;  // output format
    int n[7];
};

// Canvas size as the library would compute it, in 64 bits; -1 when the library refuses it.
std::int64_t canvas_pixels(const Call &c, std::int64_t w, std::int64_t h) {
    auto within = [](std::int64_t cw, std::int64_t ch, std::int64_t side) {
        return cw <= side && ch <= side && cw * ch <= INT_MAX ? cw * ch : -1;
    };
    switch (c.op) {
        case 0:
        case 1:
            return c.n[0] < 0 ? -1
                              : within(w + 2 * std::int64_t(c.n[0]), h + 2 * std::int64_t(c.n[0]),
                                       INT_MAX);
        case 2:
            for (int i = 0; i < 4; ++i)
                if (c.n[i] < 0) return -1;
            return within(w + c.n[1] + std::int64_t(c.n[3]), h + c.n[0] + std::int64_t(c.n[2]),
                          65536);
        case 4: {
            const std::int64_t blur = c.n[2];
            if (blur < 0) return -1;
            return within(w + std::llabs(c.n[0]) + 2 * blur, h + std::llabs(c.n[1]) + 2 * blur,
                          32768);
        }
        default:
            return w * h;
    }
}

int run(const Call &c, const char *in, const char *out) {
    const int *n = c.n;
    switch (c.op) {
        case 0:
            return kelvane_solid(in, out, n[0], n[1], n[2], n[3]);
        case 1:
            return kelvane_padding(in, out, n[0], n[1], n[2], n[3]);
        case 2:
            return kelvane_sides(in, out, n[0], n[1], n[2], n[3], n[4], n[5], n[6]);
        case 3:
            return kelvane_rounded(in, out, n[0]);
        default:
            return kelvane_shadow(in, out, n[0], n[1], n[2], n[3], n[4], n[5]);
    }
}

// The output size a successful call must have.
void expected_size(const Call &c, int w, int h, int &ow, int &oh) {
    const int *n = c.n;
    switch (c.op) {
        case 0:
        case 1:
            ow = w + 2 * n[0];
            oh = h + 2 * n[0];
            break;
        case 2:
            ow = w + n[1] + n[3];
            oh = h + n[0] + n[2];
            break;
        case 3:
            ow = w;
            oh = h;
            break;
        default:
            ow = w + std::abs(n[0]) + 2 * n[2];
            oh = h + std::abs(n[1]) + 2 * n[2];
    }
}

// Whether the file gets past the library's checks, which guard stb against its defects.
bool passes_the_librarys_checks(const std::string &path) {
    kelvane::InputFile file;
    if (!file.open(path.c_str())) return false;
    const std::uint64_t head = file.fetch(kelvane::stb_format_head);
    return !kelvane::input_refusal(kelvane::stb_format(file.data(), std::size_t(head)), file)
                .refused();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < header_size) return 0;
    static const char *const formats[] = {"png", "jpg", "bmp", "JPEG", "tga"};
    Call c{data[0] % 5, formats[data[1] % 5], {}};
    for (int i = 0; i < 7; ++i) c.n[i] = int_from(data[2 + 2 * i], data[3 + 2 * i]);
    const std::uint8_t *file = data + header_size;
    const int file_size = int(size - header_size);

    const Scratch &scratch = Scratch::get();
    const std::string in = scratch.write("in", file, std::size_t(file_size));
    int w = 256, h = 256, channels = 0;  // unknown sizes count as the largest allowed
    if (passes_the_librarys_checks(in) &&
        stbi_info_from_memory(file, file_size, &w, &h, &channels)) {
        w = std::abs(w), h = std::abs(h);  // stb reports top-down BMPs with a negative height
        if (w > 256 || h > 256) return 0;
    }
    if (canvas_pixels(c, w, h) > canvas_budget) return 0;

    const std::string out = scratch.path(std::string("out.") + c.ext);
    std::remove(out.c_str());
    const int result = run(c, in.c_str(), out.c_str());
    const std::string message = kelvane_last_error();
    if (result == 0) {
        if (message.empty()) fuzz_fail("a refusal without a message");
        if (scratch.exists(out)) fuzz_fail("a refusal left an output file");
        return 0;
    }
    if (!message.empty()) fuzz_fail("a success with a message");
    int ow = 0, oh = 0, n = 0, want_w = 0, want_h = 0;
    if (!stbi_info(out.c_str(), &ow, &oh, &n)) fuzz_fail("an output stb cannot read");
    kelvane::Image picture;  // the input as the library loads it
    if (!kelvane::load_image(in.c_str(), picture)) fuzz_fail("an input loads only once");
    expected_size(c, picture.width, picture.height, want_w, want_h);
    if (ow != want_w || oh != want_h) fuzz_fail("an output of the wrong size");
    return 0;
}

// Real-world files (the corpus of KELVANE_TESTDATA, when present) and generated pictures through
// all five operations, in PNG, JPEG and BMP output: each call either succeeds with an output of
// the right size and pixels, the very file that stock stb writes for that canvas, or fails with
// the loader's message. The outputs stay in the build tree with a manifest, for the independent
// decoder's check (independent_decoder_test.py) and for comparing builds byte for byte
// (scripts/compare-outputs.sh).
#include <kelvane.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "support/fixture.hpp"
#include "support/generated.hpp"
#include "support/reference_blur.hpp"
#include "support/stock_stb.hpp"
#include "write/image_write.hpp"

using namespace kelvane_test;

namespace {

// One line of the table of what stock stb, of the version this build compiles, makes of each
// corpus file (written by CTest's corpus_expectations, tests/support/decode_expectations.cmake).
struct CorpusEntry {
    std::string path, ok, width, height, channels, reason, sha256;
    bool stable() const { return sha256 != "unstable"; }
};

std::vector<CorpusEntry> corpus_entries() {
    std::ifstream table(KELVANE_CORPUS_EXPECTATIONS);
    std::vector<CorpusEntry> entries;
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        CorpusEntry e;
        for (std::string *field :
             {&e.path, &e.ok, &e.width, &e.height, &e.channels, &e.reason, &e.sha256})
            std::getline(fields, *field, '\t');
        entries.push_back(e);
    }
    return entries;
}

// Files that stb decodes although they cannot hold the pixels they claim (it reads zeros past
// their end): the library refuses them.
const std::map<std::string, std::string> refused_as_truncated = {
    {"bmpsuite/b/shortfile.bmp", "truncated"},
    {"generated/trunc-gif-half.gif", "truncated"},
    {"image-rs/hdr/images/old-rle.hdr", "truncated"},  // old-style runs, which stb reads as pixels
    {"image-rs/regression/tga/overfull-image.tga", "truncated"},
    {"pillow/combined_larger_than_size.psd", "truncated"},
    {"pillow/cross_scan_line_truncated.tga", "truncated"},
};

// An operation with fixed arguments, the size of its output for a w x h picture, and what its
// output must hold.
struct Operation {
    std::string name;
    std::function<int(const char *, const char *)> run;
    std::function<std::pair<int, int>(int w, int h)> size;
    std::function<void(const Picture &picture, const Picture &result)> check;
};

void expect_rounded(const Picture &picture, const Picture &result) {
    // Colours stay; alpha only falls, and only in the 5 x 5 corner squares.
    const int r = std::min({5, picture.width / 2, picture.height / 2});
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const auto before = picture.at(x, y), after = result.at(x, y);
            const bool corner =
                (x < r || x >= picture.width - r) && (y < r || y >= picture.height - r);
            ASSERT_TRUE(std::equal(before.begin(), before.begin() + 3, after.begin()));
            ASSERT_TRUE(corner ? after[3] <= before[3] : after[3] == before[3]) << x << "," << y;
        }
}

// The check of a picture framed at (left, top) by `fill`.
std::function<void(const Picture &, const Picture &)> framed(int left, int top,
                                                             std::vector<std::uint8_t> fill) {
    return [=](const Picture &p, const Picture &r) { expect_framed(r, p, left, top, fill); };
}

// The shadow job's operation: its size and the reference's canvas.
Operation shadow_operation(const std::string &name, int dx, int dy, int blur, int r, int g, int b) {
    return {name,
            [=](const char *in, const char *out) {
                return kelvane_shadow(in, out, dx, dy, blur, r, g, b);
            },
            [=](int w, int h) {
                return std::pair{w + std::abs(dx) + 2 * blur, h + std::abs(dy) + 2 * blur};
            },
            [=](const Picture &p, const Picture &result) {
                ASSERT_EQ(result.rgba, reference_shadow(p, dx, dy, blur, r, g, b).rgba);
            }};
}

const Operation operations[] = {
    {"solid", [](const char *in, const char *out) { return kelvane_solid(in, out, 2, 5, 6, 7); },
     [](int w, int h) {
         return std::pair{w + 4, h + 4};
     },
     framed(2, 2, {5, 6, 7, 255})},
    {"padding",
     [](const char *in, const char *out) { return kelvane_padding(in, out, 3, 250, 0, 9); },
     [](int w, int h) {
         return std::pair{w + 6, h + 6};
     },
     framed(3, 3, {250, 0, 9, 255})},
    {"sides",
     [](const char *in, const char *out) { return kelvane_sides(in, out, 1, 2, 3, 4, 0, 99, 0); },
     [](int w, int h) {
         return std::pair{w + 6, h + 4};
     },
     framed(4, 1, {0, 99, 0, 255})},
    {"rounded", [](const char *in, const char *out) { return kelvane_rounded(in, out, 5); },
     [](int w, int h) {
         return std::pair{w, h};
     },
     expect_rounded},
    shadow_operation("shadow", 3, -2, 2, 10, 20, 30),
};

#ifdef KELVANE_FAST_PNG
constexpr bool fast_png_build = true;
#else
constexpr bool fast_png_build = false;
#endif

// The file stock stb writes for a canvas in a format: RGBA for PNG, flattened onto white for the
// others.
std::string stock_file(const std::string &ext, const Picture &canvas) {
    if (ext == "png") return stock::png(canvas.width, canvas.height, canvas.rgba.data());
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < canvas.rgba.size(); i += 4)
        for (std::size_t c = 0; c < 3; ++c)
            rgb.push_back(kelvane::flatten_sample(canvas.rgba[i + c], canvas.rgba[i + 3]));
    return ext == "jpg" ? stock::jpeg(canvas.width, canvas.height, rgb.data())
                        : stock::bmp(canvas.width, canvas.height, rgb.data());
}

std::string flat_name(std::string path) {
    for (char &c : path)
        if (c == '/') c = '_';
    return path;
}

// The outputs' folder, emptied once per run, and its manifest for the independent decoder.
std::ofstream &manifest() {
    static std::ofstream file = [] {
        const std::filesystem::path dir = KELVANE_CORPUS_OUTPUT_DIR;
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "generated");
        return std::ofstream(dir / "manifest.tsv");
    }();
    return file;
}

// Runs `op` on `input` into STEM.OP.png, .jpg and .bmp: each output must have the operation's
// size, the PNG the pixels `op.check` expects, and every file the very bytes that stb as it comes
// writes for that canvas (but the fast PNG build's PNGs, which libdeflate compresses).
void write_and_check(const Operation &op, const std::string &input, const Picture &picture,
                     const std::string &stem, int &written) {
    Picture canvas;  // the PNG output's pixels: what the other formats flatten
    for (const char *ext : {"png", "jpg", "bmp"}) {
        const std::string out = stem + "." + op.name + "." + ext;
        ASSERT_EQ(op.run(input.c_str(), out.c_str()), 1)
            << input << " " << op.name << ": " << last_error();
        ++written;
        const Picture result = read_rgba(out);
        const auto [w, h] = op.size(picture.width, picture.height);
        ASSERT_EQ(result.width, w) << out;
        ASSERT_EQ(result.height, h) << out;
        std::string rgba = "-";
        if (std::string(ext) == "png") {
            op.check(picture, result);
            if (testing::Test::HasFatalFailure()) FAIL() << out;
            canvas = result;
            rgba = out + ".rgba";
            std::ofstream(rgba, std::ios::binary)
                .write(reinterpret_cast<const char *>(result.rgba.data()),
                       std::streamsize(result.rgba.size()));
        }
        if (std::string(ext) != "png" || !fast_png_build) {
            ASSERT_TRUE(read_bytes(out) == stock_file(ext, canvas)) << out;
        }
        manifest() << out << '\t' << w << '\t' << h << '\t' << ext << '\t' << rgba << '\n';
    }
}

TEST(corpus_test, every_file_through_every_operation) {
    const std::filesystem::path dir = testdata_dir(), out_dir = KELVANE_CORPUS_OUTPUT_DIR;
    manifest();
    if (dir.empty()) GTEST_SKIP() << no_testdata_reason();
    ASSERT_TRUE(exists(KELVANE_CORPUS_EXPECTATIONS))
        << "no " KELVANE_CORPUS_EXPECTATIONS " (CTest's corpus_expectations writes it)";

    int files = 0, decoded = 0, written = 0, refused = 0;
    for (CorpusEntry e : corpus_entries()) {
        ++files;
        const std::string input = (dir / e.path).string();
        if (const auto truncated = refused_as_truncated.find(e.path);
            truncated != refused_as_truncated.end()) {
            ASSERT_EQ(e.ok, "1") << e.path;
            e.ok = "0", e.reason = truncated->second;
        }
        const Picture picture = library_load(input);
        // Where stb's own pixels are repeatable, the library loads exactly those. (Elsewhere stb
        // reads past a buffer or leaves pixels unset; the library's own repairs are what the
        // operations must then keep.)
        if (e.ok == "1" && e.stable()) {
            ASSERT_EQ(picture.rgba, read_rgba(input).rgba) << e.path;
        }
        decoded += e.ok == "1";
        const std::string stem = (out_dir / flat_name(e.path)).generic_string();
        for (const Operation &op : operations) {
            if (e.ok == "1") {
                write_and_check(op, input, picture, stem, written);
                if (testing::Test::HasFatalFailure()) return;
                continue;
            }
            for (const char *ext : {"png", "jpg", "bmp"}) {
                const std::string out = stem + "." + op.name + "." + ext;
                ASSERT_EQ(op.run(input.c_str(), out.c_str()), 0) << e.path;
                const std::string reason = e.reason.empty() ? "unknown error" : e.reason;
                ASSERT_EQ(last_error(), decode_failure(input, reason));
                ++refused;
            }
        }
    }
    std::printf(
        "corpus: %d files, %d decoded; %d outputs written and checked, %d calls refused "
        "with the loader's message\n",
        files, decoded, written, refused);
    EXPECT_GT(written, 0);
}

// The random shadow jobs that the bit-exactness tests compare with the reference, each through
// every operation and its own shadow: outputs that other builds (another compiler, machine or
// system) must write byte for byte alike.
TEST(corpus_test, generated_pictures_through_every_operation) {
    const std::filesystem::path dir =
        std::filesystem::path(KELVANE_CORPUS_OUTPUT_DIR) / "generated";
    manifest();
    int written = 0, index = 0;
    for (const ShadowJob &job : random_shadow_jobs(160)) {
        const std::string stem = (dir / ("job" + std::to_string(index++))).generic_string();
        write_png(stem + ".png", job.picture);
        std::vector<Operation> ops(std::begin(operations), std::end(operations));
        ops.push_back(
            shadow_operation("own-shadow", job.dx, job.dy, job.blur, job.r, job.g, job.b));
        for (const Operation &op : ops) {
            write_and_check(op, stem + ".png", job.picture, stem, written);
            if (testing::Test::HasFatalFailure()) return;
        }
    }
    std::printf("generated: 160 pictures; %d outputs written and checked\n", written);
}

}  // namespace

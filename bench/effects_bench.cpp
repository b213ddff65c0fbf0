// Each effect's build step alone, without file I/O, on a 4000x3000 opaque picture and a
// 1920x1080 picture with transparency; the shadow cases also run the plain reference blur, so
// that the speed-up is read in one run. The PNG compressor runs beside stb's own, built plainly,
// and stb's JPEG writer as the library builds it beside its copy built for AVX2.
#include <benchmark/benchmark.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <cstring>

#include "base/image.hpp"
#include "effects/borders.hpp"
#include "effects/rounded.hpp"
#include "effects/shadow.hpp"
#include "pictures.h"
#include "stb_plain.h"
#include "support/reference_blur.hpp"
#include "write/png_compressor.hpp"
#include "write/stb_jpeg_avx2.h"
#include "write/writer_memory.hpp"

namespace {

using kelvane::Image;
using kelvane_test::Picture;

Picture drawn(int width, int height, bench_kind kind) {
    Picture p{width, height, 4, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
    bench_draw(p.rgba.data(), width, height, kind);
    return p;
}

// 0: the 4000x3000 smooth photo, 1: the 1920x1080 graphic with transparency, 2: the 4000x3000
// photo with sensor noise.
const Picture &picture(std::int64_t which) {
    static const Picture photo = drawn(4000, 3000, BENCH_SMOOTH),
                         with_alpha = drawn(1920, 1080, BENCH_CUTOUT);
    if (which != 2) return which ? with_alpha : photo;
    static const Picture noisy = drawn(4000, 3000, BENCH_NOISY);
    return noisy;
}

// The picture as the library holds it after loading: a malloc'd buffer of its own.
Image loaded(const Picture &p) {
    Image image;
    image.width = p.width;
    image.height = p.height;
    image.channels = 4;
    image.pixels.reset(static_cast<std::uint8_t *>(std::malloc(p.rgba.size())));
    std::memcpy(image.pixels.get(), p.rgba.data(), p.rgba.size());
    return image;
}

// Times `build` on a fresh copy of the picture each iteration; the copy is not timed. The copy
// costs more than most builds, so these benchmarks run a fixed number of iterations.
template <class Build>
void time_build(benchmark::State &state, const Picture &p, Build build) {
    for (auto _ : state) {
        state.PauseTiming();
        Image image = loaded(p);
        state.ResumeTiming();
        if (!build(image)) state.SkipWithError("the build step failed");
        state.PauseTiming();
        image = Image{};
        state.ResumeTiming();
    }
}

struct ShadowCase {
    int dx, dy, blur;
};

ShadowCase shadow_case(const Picture &p, int which) {
    const ShadowCase cases[3] = {{10, 10, 20}, {p.width, 0, 20}, {10, 10, 300}};
    return cases[which];
}

void border(benchmark::State &state) {
    time_build(state, picture(state.range(0)), [](Image &image) {
        return kelvane::solid_border(image, 10, kelvane::rgb(255, 255, 255));
    });
}

void sides(benchmark::State &state) {
    time_build(state, picture(state.range(0)), [](Image &image) {
        return kelvane::side_border(image, {5, 10, 15, 20}, kelvane::rgb(0, 0, 0));
    });
}

// Rounding works in place and its cost does not depend on the alpha it scales, so one copy
// serves every iteration.
void rounded(benchmark::State &state) {
    Image image = loaded(picture(state.range(0)));
    for (auto _ : state) kelvane::round_corners(image, 40);
}

void shadow(benchmark::State &state) {
    const Picture &p = picture(state.range(0));
    const ShadowCase c = shadow_case(p, int(state.range(1)));
    time_build(state, p, [&](Image &image) {
        kelvane::ShadowGeometry g{};
        return kelvane::shadow_geometry(image.width, image.height, c.dx, c.dy, c.blur, g) &&
               kelvane::build_shadow(image, g, kelvane::rgb(0, 0, 0));
    });
}

void reference_shadow(benchmark::State &state) {
    const Picture &p = picture(state.range(0));
    const ShadowCase c = shadow_case(p, int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvane_test::reference_shadow(p, c.dx, c.dy, c.blur, 0, 0, 0));
}

// The rows that stb's PNG encoder hands its compressor for the picture.
std::vector<unsigned char> png_rows(std::int64_t which) {
    const Picture &p = picture(which);
    int size = 0;
    unsigned char *rows = plain_png_rows(p.rgba.data(), p.width, p.height, &size);
    std::vector<unsigned char> copy(rows, rows + (rows ? size : 0));
    std::free(rows);
    return copy;
}

// Compresses the picture's PNG rows as the encoder does (quality 8) with `compress`, whose
// stream is released with `release`.
template <class Compress, class Release>
void time_compressor(benchmark::State &state, Compress compress, Release release) {
    std::vector<unsigned char> rows = png_rows(state.range(0));
    if (rows.empty()) state.SkipWithError("stb wrote no rows");
    for (auto _ : state) {
        int size = 0;
        unsigned char *stream = compress(rows.data(), int(rows.size()), &size, 8);
        benchmark::DoNotOptimize(stream);
        release(stream);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(rows.size()));
}

void png_compressor(benchmark::State &state) {
    time_compressor(state, kelvane::png_zlib_compress, kelvane::writer_free);
}

void stb_compressor(benchmark::State &state) {
    time_compressor(state, plain_zlib_compress, std::free);
}

// stb's JPEG of the 4000x3000 smooth photo (packed RGB, quality 90) into memory reserved once:
// the library's copy of the writer (avx2 0) or its copy built for AVX2 (avx2 1).
void jpeg_writer(benchmark::State &state) {
    const Picture &p = picture(0);
    std::vector<std::uint8_t> rgb;
    rgb.reserve(p.rgba.size() / 4 * 3);
    for (std::size_t i = 0; i < p.rgba.size(); ++i)
        if (i % 4 != 3) rgb.push_back(p.rgba[i]);
    std::string file;
    file.reserve(rgb.size());
    auto append = [](void *to, void *data, int size) {
        static_cast<std::string *>(to)->append(static_cast<const char *>(data), std::size_t(size));
    };
    const bool wide = state.range(0) != 0;
#ifdef KELVANE_STB_AVX2
    if (wide && !__builtin_cpu_supports("avx2")) state.SkipWithError("no AVX2 here");
#else
    if (wide) state.SkipWithError("built without the AVX2 copy");
#endif
    for (auto _ : state) {
        file.clear();
        int written = 0;
#ifdef KELVANE_STB_AVX2
        if (wide) written = kelvane_jpg_to_func_avx2(append, &file, p.width, p.height, rgb.data());
#endif
        if (!wide)
            written = stbi_write_jpg_to_func(append, &file, p.width, p.height, 3, rgb.data(), 90);
        if (!written) state.SkipWithError("stb wrote nothing");
        benchmark::DoNotOptimize(file.data());
    }
}

// Arguments: picture (0: 4000x3000 opaque, 1: 1920x1080 with transparency) and, for the
// shadow, the case (0: dx = dy = 10, blur 20; 1: wholly beside, dx = width; 2: blur 300).
constexpr int copied_iterations = 20;

void pictures_only(benchmark::internal::Benchmark *b) {
    b->ArgNames({"cutout"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}
// The compressor also on the noisy photo (2), where matches are short and candidates many.
void compressor_pictures(benchmark::internal::Benchmark *b) {
    b->ArgNames({"picture"})->Arg(0)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond);
}
void shadow_cases(benchmark::internal::Benchmark *b) {
    b->ArgNames({"cutout", "case"})->Unit(benchmark::kMillisecond);
    for (int cutout : {0, 1})
        for (int which : {0, 1, 2}) b->Args({cutout, which});
}

BENCHMARK(border)->Apply(pictures_only)->Iterations(copied_iterations);
BENCHMARK(sides)->Apply(pictures_only)->Iterations(copied_iterations);
BENCHMARK(rounded)->Apply(pictures_only);
BENCHMARK(shadow)->Apply(shadow_cases)->Iterations(copied_iterations);
BENCHMARK(reference_shadow)->Apply(shadow_cases)->Iterations(1);
BENCHMARK(png_compressor)->Apply(compressor_pictures);
BENCHMARK(stb_compressor)->Apply(compressor_pictures);
BENCHMARK(jpeg_writer)->ArgNames({"avx2"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

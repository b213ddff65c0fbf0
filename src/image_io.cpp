#include "image_io.hpp"

#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder_guards.hpp"
#include "message.hpp"
#include "psd_reader.hpp"
#include "writer_memory.hpp"

namespace kelvane {

void clear_decoder_reason() noexcept;  // beside stb's implementation, which holds the reason

namespace {

enum class Format { png, jpeg, bmp };

// ASCII-only, so the host's locale cannot change which names mean JPEG or BMP.
bool ascii_iequal(const char *a, const char *b) noexcept {
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'A' && ca <= 'Z') ca = char(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z') cb = char(cb - 'A' + 'a');
        if (ca != cb) return false;
        if (ca == '\0') return true;
    }
}

Format output_format(const char *path) noexcept {
    const char *dot = std::strrchr(path, '.');
    if (!dot) return Format::png;
    const char *ext = dot + 1;
    if (ascii_iequal(ext, "jpg") || ascii_iequal(ext, "jpeg")) return Format::jpeg;
    if (ascii_iequal(ext, "bmp")) return Format::bmp;
    return Format::png;
}

// stb's PNG encoder keeps its deflate output in a buffer whose int capacity grows as 2m + 1;
// the last capacity that does not overflow holds 1610612734 bytes. With fixed Huffman codes a
// byte costs at most 9 bits, so the filtered rows ((4w + 1) * h bytes) must stay below 8/9 of
// that, less a few bytes of header and checksum.
constexpr std::uint64_t png_deflate_buffer_max = 1610612734;
constexpr std::uint64_t png_filtered_max = (png_deflate_buffer_max - 16) / 9 * 8;

// Whether stb's encoder for `format` can write a w x h picture without its 32-bit sizes and
// offsets wrapping.
bool encoder_can_write(Format format, int w, int h) noexcept {
    const std::uint64_t width = std::uint64_t(w), height = std::uint64_t(h);
    switch (format) {
        case Format::png:
            return (4 * width + 1) * height <= png_filtered_max;
        case Format::jpeg:  // a JPEG frame header records each side in 16 bits
            return w <= 65535 && h <= 65535 && 3 * width * height <= INT_MAX;
        case Format::bmp: {  // rows are padded to 4 bytes; the header holds the file size
            const std::uint64_t padded_row = (3 * width + 3) / 4 * 4;
            return padded_row * height + 54 <= INT_MAX;
        }
    }
    return false;
}

#if defined(__SSE2__)
// Four RGBA pixels flattened onto white, in 16-bit lanes; the alpha bytes come out meaningless.
__m128i flatten_four(__m128i rgba) noexcept {
    const __m128i zero = _mm_setzero_si128(), full = _mm_set1_epi16(255);
    const __m128i half = _mm_set1_epi16(127), one = _mm_set1_epi16(1);
    auto flatten_two = [&](__m128i c) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, 0xFF), 0xFF);
        __m128i x = _mm_mullo_epi16(_mm_sub_epi16(full, a), full);
        x = _mm_add_epi16(_mm_add_epi16(x, _mm_mullo_epi16(c, a)), half);
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    };
    return _mm_packus_epi16(flatten_two(_mm_unpacklo_epi8(rgba, zero)),
                            flatten_two(_mm_unpackhi_epi8(rgba, zero)));
}
#endif

// Flattens every pixel onto white and packs the results as RGB, 3 bytes a pixel, at the start of
// the same buffer: one pass, no fresh memory. Pixel i's bytes land at 3i, before the 4i where it
// was read: every group of pixels is read whole before its packed bytes are written, and those
// bytes (with one spare that the next group overwrites) never reach a pixel still to be read.
void flatten_in_place(Image &image) noexcept {
    std::uint8_t *pixels = image.pixels.get();
    const std::uint64_t count = pixel_count(image.width, image.height);
    std::uint64_t i = 0;
#if defined(__SSE2__)
    const __m128i opaque = _mm_set1_epi8(char(255));
    for (; i + 4 <= count; i += 4) {
        __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + i * 4));
        // Opaque pixels keep their colour exactly: only the others need the arithmetic.
        if ((_mm_movemask_epi8(_mm_cmpeq_epi8(four, opaque)) & 0x8888) != 0x8888)
            four = flatten_four(four);
        alignas(16) std::uint8_t flat[16];
        _mm_store_si128(reinterpret_cast<__m128i *>(flat), four);
        std::uint8_t *rgb = pixels + i * 3;
        for (int k = 0; k < 4; ++k) std::memcpy(rgb + k * 3, flat + k * 4, 4);
    }
#endif
    for (; i < count; ++i) {
        std::uint8_t px[4];
        std::memcpy(px, pixels + i * 4, 4);
        for (int c = 0; c < 3; ++c) pixels[i * 3 + std::uint64_t(c)] = flatten_sample(px[c], px[3]);
    }
}

// One call of stb's writer for the format, from 4-byte RGBA (PNG) or packed RGB (JPEG, BMP).
struct WriteJob {
    const char *path;
    Format format;
    int width, height;
    const std::uint8_t *pixels;
};

int write_file(void *context) noexcept {
    const WriteJob &job = *static_cast<const WriteJob *>(context);
    switch (job.format) {
        case Format::png:
            return stbi_write_png(job.path, job.width, job.height, 4, job.pixels, 0);
        case Format::jpeg:
            return stbi_write_jpg(job.path, job.width, job.height, 3, job.pixels, 90);
        case Format::bmp:
            return stbi_write_bmp(job.path, job.width, job.height, 3, job.pixels);
    }
    return 0;
}

struct file_closer {
    void operator()(std::FILE *file) const noexcept { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

Decoded decode_with_stb(std::FILE *file) noexcept {
    Decoded d;
    d.pixels.reset(stbi_load_from_file(file, &d.width, &d.height, &d.channels, 4));
    if (!d.pixels) d.reason = stbi_failure_reason();
    return d;
}

// stb decodes 16-bit PGM and PPM into 8 bits through a conversion that reads past the end of its
// buffer. Asked for the file's own channels at 16 bits it reads them correctly (as the file's
// big-endian bytes); each sample's 8-bit value is its high byte, as stb later fixed it to be.
Decoded decode_16bit_pnm(std::FILE *file) noexcept {
    Decoded d;
    const std::unique_ptr<stbi_us[], free_deleter> samples(
        stbi_load_from_file_16(file, &d.width, &d.height, &d.channels, 0));
    if (!samples) return Decoded::refused(stbi_failure_reason());
    d.pixels = alloc_pixels(d.width, d.height, 4);
    if (!d.pixels) return Decoded::refused("outofmem");
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(samples.get());
    const std::size_t count = std::size_t(pixel_count(d.width, d.height));
    const bool grey = d.channels == 1;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t *px = d.pixels.get() + i * 4;
        for (int c = 0; c < 3; ++c) px[c] = bytes[(grey ? i : i * 3 + std::size_t(c)) * 2];
        px[3] = 255;
    }
    return d;
}

bool is_pnm(const unsigned char *head, std::size_t size) noexcept {
    return size >= 2 && head[0] == 'P' && (head[1] == '5' || head[1] == '6');
}

// Decodes the file from its start with stb, but for the kinds of file that stb 2.27 gets wrong,
// recognised by their first bytes: JPEGs whose Huffman tables would overrun its arrays, PNGs
// whose image data runs past the file's end and HDRs whose runs would never end are refused;
// 16-bit PNM and PSD with alpha are read by paths that are right.
Decoded decode(std::FILE *file) noexcept {
    clear_decoder_reason();
    unsigned char head[16];
    const std::size_t size = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    if (is_jpeg(head, size)) {
        const bool fits = jpeg_huffman_tables_fit(file);
        std::rewind(file);
        if (!fits) return Decoded::refused("bad DHT header");
    }
    if (is_png(head, size)) {
        const bool within = png_data_within_file(file);
        std::rewind(file);
        if (!within) return Decoded::refused("outofdata");
    }
    if (is_hdr(head, size)) {
        const bool ends = hdr_runs_end(file);
        std::rewind(file);
        if (!ends) return Decoded::refused("corrupt");
    }
    if (is_pnm(head, size) && stbi_is_16_bit_from_file(file)) return decode_16bit_pnm(file);
    if (is_psd_with_alpha(head, size)) return read_psd_with_alpha(file);
    return decode_with_stb(file);
}

}  // namespace

bool encoder_can_write(const char *path, int w, int h) noexcept {
    return encoder_can_write(output_format(path), w, h);
}

int out_kind(const char *path) noexcept { return output_format(path) == Format::png ? 1 : 0; }

int load_image(const char *path, Image &image) noexcept {
    image = Image{};
    const file_handle file(std::fopen(path, "rb"));
    Decoded decoded = file ? decode(file.get()) : Decoded::refused("can't fopen");
    if (!decoded.pixels) {
        const char *reason = decoded.reason;
        // An empty reason says no more than a missing one.
        if (!reason || !*reason) reason = "unknown error";
        return fail("cannot decode '%s': %s", path, reason);
    }
    const int w = decoded.width, h = decoded.height;
    if (w < 1 || h < 1) return fail("cannot decode '%s': %s", path, "no pixels");
    if (w > max_input_side || h > max_input_side) return fail("image too large: %dx%d", w, h);
    image.width = w;
    image.height = h;
    image.channels = decoded.channels;
    image.pixels = std::move(decoded.pixels);
    return 1;
}

int save_image(const char *path, Image &image) noexcept {
    const Format format = output_format(path);
    if (!encoder_can_write(format, image.width, image.height))
        return fail("cannot encode '%s' (check the extension)", path);
    if (format != Format::png) flatten_in_place(image);
    WriteJob job{path, format, image.width, image.height, image.pixels.get()};
    if (!guarded_write(write_file, &job))
        return fail("cannot encode '%s' (check the extension)", path);
    return 1;
}

}  // namespace kelvane

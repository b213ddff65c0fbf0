#include "write/image_write.hpp"

#include <stb_image_write.h>

#include <algorithm>
#include <cstring>

#include "base/large_memory.hpp"
#include "base/message.hpp"
#include "base/simd.hpp"
#include "write/output_file.hpp"
#include "write/stb_jpeg_avx2.h"
#include "write/stb_png_avx2.h"
#include "write/writer_memory.hpp"

// stb defines its in-memory PNG writer (the one its file and callback writers call) without
// declaring it in its header.
extern "C" unsigned char *stbi_write_png_to_mem(const unsigned char *pixels, int stride_bytes,
                                                int x, int y, int n, int *out_len);

namespace kelvane {

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

#if KELVANE_SIMD_SSE2
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
#if KELVANE_SIMD_SSE2
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

// The encoded file, whole in memory before the output is touched: stb's PNG buffer as its encoder
// made it (writer memory), or the pieces of a JPEG or BMP gathered as stb hands them over.
class EncodedFile {
  public:
    EncodedFile() = default;
    EncodedFile(const EncodedFile &) = delete;
    EncodedFile &operator=(const EncodedFile &) = delete;
    ~EncodedFile() {
        if (from_writer_)
            writer_free(data_);
        else
            std::free(data_);
    }

    void adopt_from_writer(std::uint8_t *data, int size) noexcept {
        data_ = data;
        size_ = data ? std::size_t(size) : 0;
        from_writer_ = true;
    }
    void reserve(std::size_t capacity) noexcept { failed_ = !grow(capacity); }
    void append(const void *data, std::size_t size) noexcept {
        if (failed_) return;
        if (size > capacity_ - size_ && !grow(std::max(capacity_ * 2, size_ + size))) {
            failed_ = true;
            return;
        }
        std::memcpy(data_ + size_, data, size);
        size_ += size;
    }
    // The bytes, or null when some could not be kept.
    const std::uint8_t *data() const noexcept { return failed_ ? nullptr : data_; }
    std::size_t size() const noexcept { return size_; }

  private:
    bool grow(std::size_t capacity) noexcept {
        if (capacity <= capacity_) return true;
        void *grown = large_realloc(data_, capacity);
        if (!grown) return false;
        data_ = static_cast<std::uint8_t *>(grown);
        capacity_ = capacity;
        return true;
    }

    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
    bool from_writer_ = false, failed_ = false;
};

// One call of stb's writer for the format, from 4-byte RGBA (PNG) or packed RGB (JPEG, BMP),
// into memory.
struct EncodeJob {
    EncodedFile *file;
    Format format;
    int width, height;
    const std::uint8_t *pixels;
};

void to_memory(void *file, void *data, int size) noexcept {
    static_cast<EncodedFile *>(file)->append(data, std::size_t(size));
}

// stb's PNG of the picture: its copy built for AVX2 where the processor has it (the same bytes).
std::uint8_t *png_to_memory(const std::uint8_t *pixels, int width, int height, int &size) noexcept {
#ifdef KELVANE_STB_AVX2
    if (__builtin_cpu_supports("avx2"))
        return kelvane_png_to_mem_avx2(pixels, width, height, &size);
#endif
    return stbi_write_png_to_mem(pixels, 0, width, height, 4, &size);
}

// stb's JPEG of the packed RGB pixels at quality 90, handed to the file: its copy built for AVX2
// where the processor has it (the same bytes).
int jpeg_to_file(EncodedFile &file, const std::uint8_t *pixels, int width, int height) noexcept {
#ifdef KELVANE_STB_AVX2
    if (__builtin_cpu_supports("avx2"))
        return kelvane_jpg_to_func_avx2(to_memory, &file, width, height, pixels);
#endif
    return stbi_write_jpg_to_func(to_memory, &file, width, height, 3, pixels, 90);
}

int encode(void *context) noexcept {
    const EncodeJob &job = *static_cast<const EncodeJob *>(context);
    switch (job.format) {
        case Format::png: {
            int size = 0;
            std::uint8_t *png = png_to_memory(job.pixels, job.width, job.height, size);
            job.file->adopt_from_writer(png, size);
            return png != nullptr;
        }
        case Format::jpeg:
            return jpeg_to_file(*job.file, job.pixels, job.width, job.height);
        case Format::bmp:
            return stbi_write_bmp_to_func(to_memory, job.file, job.width, job.height, 3,
                                          job.pixels);
    }
    return 0;
}

// What the encoder will need for the whole file: exact for BMP, a first guess for JPEG.
std::size_t encoded_size_hint(Format format, int w, int h) noexcept {
    const std::uint64_t pixels = pixel_count(w, h);
    if (format == Format::bmp)
        return std::size_t((3 * std::uint64_t(w) + 3) / 4 * 4 * std::uint64_t(h) + 54);
    return std::size_t(pixels / 2 + 4096);
}

}  // namespace

bool encoder_can_write(const char *path, int w, int h) noexcept {
    return encoder_can_write(output_format(path), w, h);
}

int out_kind(const char *path) noexcept { return output_format(path) == Format::png ? 1 : 0; }

int save_image(const char *path, Image &image) noexcept {
    const Format format = output_format(path);
    if (!encoder_can_write(format, image.width, image.height))
        return fail("cannot encode '%s' (check the extension)", path);
    if (format != Format::png) flatten_in_place(image);
    EncodedFile file;
    if (format != Format::png) file.reserve(encoded_size_hint(format, image.width, image.height));
    EncodeJob job{&file, format, image.width, image.height, image.pixels.get()};
    {
        const PixelLoan loan(image.pixels);
        if (!guarded_write(encode, &job) || !file.data())
            return fail("cannot encode '%s' (check the extension)", path);
    }
    // The spent picture goes before the file is written, so that the file's pages can take its
    // memory: the job then needs no more of it than the encoder did.
    image.pixels.reset();
    if (!write_output_file(path, file.data(), file.size()))
        return fail("cannot encode '%s' (check the extension)", path);
    return 1;
}

}  // namespace kelvane

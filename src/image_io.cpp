#include "image_io.hpp"

#include <stb_image.h>
#include <stb_image_write.h>

#include <cstring>

#include "message.hpp"

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

// The picture over white, 3 bytes per pixel; empty when the heap refuses it.
pixel_buffer flatten_onto_white(const Image &image) noexcept {
    pixel_buffer rgb = alloc_pixels(image.width, image.height, 3);
    if (!rgb) return nullptr;
    const std::uint8_t *src = image.pixels.get();
    std::uint8_t *dst = rgb.get();
    const std::uint64_t count = pixel_count(image.width, image.height);
    for (std::uint64_t i = 0; i < count; ++i, src += 4, dst += 3) {
        const unsigned a = src[3];
        dst[0] = flatten_sample(src[0], a);
        dst[1] = flatten_sample(src[1], a);
        dst[2] = flatten_sample(src[2], a);
    }
    return rgb;
}

}  // namespace

bool encoder_can_write(const char *path, int w, int h) noexcept {
    return encoder_can_write(output_format(path), w, h);
}

int out_kind(const char *path) noexcept { return output_format(path) == Format::png ? 1 : 0; }

int load_image(const char *path, Image &image) noexcept {
    image = Image{};
    int w = 0, h = 0, channels = 0;
    pixel_buffer pixels(stbi_load(path, &w, &h, &channels, 4));
    if (!pixels) {
        const char *reason = stbi_failure_reason();
        // An empty reason says no more than a missing one.
        if (!reason || !*reason) reason = "unknown error";
        return fail("cannot decode '%s': %s", path, reason);
    }
    if (w > max_input_side || h > max_input_side) return fail("image too large: %dx%d", w, h);
    image.width = w;
    image.height = h;
    image.channels = channels;
    image.pixels = std::move(pixels);
    return 1;
}

int save_image(const char *path, const Image &image) noexcept {
    const Format format = output_format(path);
    int written = 0;
    if (encoder_can_write(format, image.width, image.height)) {
        if (format == Format::png) {
            written = stbi_write_png(path, image.width, image.height, 4, image.pixels.get(), 0);
        } else {
            const pixel_buffer rgb = flatten_onto_white(image);
            if (!rgb) return fail("out of memory");
            written = format == Format::bmp
                          ? stbi_write_bmp(path, image.width, image.height, 3, rgb.get())
                          : stbi_write_jpg(path, image.width, image.height, 3, rgb.get(), 90);
        }
    }
    return written ? 1 : fail("cannot encode '%s' (check the extension)", path);
}

}  // namespace kelvane

// Each check reads the header as stb_image 2.27 reads it, field by field, and leaves every file
// that stb refuses before it allocates the picture to stb; what remains is whether the file holds
// the pixel data that stb is about to read (past the end of a file, stb reads zeros).
#include "read/raster_checks.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace kelvane {
namespace {

// ---- BMP -----------------------------------------------------------------------------------

struct BmpMasks {
    std::uint32_t r = 0, g = 0, b = 0, a = 0;
};

// The masks of an uncompressed 16- or 32-bit file, as the decoder sets them.
void default_masks(int bpp, BmpMasks &m) noexcept {
    if (bpp == 16) {
        m.r = 31u << 10, m.g = 31u << 5, m.b = 31u;
    } else if (bpp == 32) {
        m = {0xffu << 16, 0xffu << 8, 0xffu, 0xffu << 24};
    } else {
        m = {};
    }
}

// Whether the decoder accepts the masks of a 16- or 32-bit file (it reads the others itself).
bool masks_accepted(int bpp, const BmpMasks &m) noexcept {
    const bool easy = bpp == 24 || (bpp == 32 && m.r == 0xff0000u && m.g == 0xff00u &&
                                    m.b == 0xffu && m.a == 0xff000000u);
    if (easy) return true;
    return m.r && m.g && m.b && std::popcount(m.r) <= 8 && std::popcount(m.g) <= 8 &&
           std::popcount(m.b) <= 8 && std::popcount(m.a) <= 8;
}

}  // namespace

Verdict check_bmp(InputFile &file) noexcept {
    InputBytes in(file, 10);  // past "BM", the file size and two reserved words
    const auto offset = std::int32_t(in.le32());
    const std::uint32_t header = in.le32();
    if (offset < 0) return Verdict::pass();
    if (header != 12 && header != 40 && header != 56 && header != 108 && header != 124)
        return Verdict::pass();
    const bool os2 = header == 12;
    const std::uint32_t width = os2 ? in.le16() : in.le32();
    const std::int64_t height = std::llabs(os2 ? std::int64_t(in.le16()) : std::int32_t(in.le32()));
    if (in.le16() != 1) return Verdict::pass();
    const int bpp = int(in.le16());
    int extra_read = 14;  // the decoder's name for the bytes before the header and masks
    BmpMasks masks;
    if (!os2) {
        const auto compress = std::int32_t(in.le32());
        if (compress == 1 || compress == 2 || compress >= 4) return Verdict::pass();
        if (compress == 3 && bpp != 16 && bpp != 32) return Verdict::pass();
        in.skip(20);
        if (header == 40 || header == 56) {
            if (header == 56) in.skip(16);
            if (bpp == 16 || bpp == 32) {
                if (compress == 0) {
                    default_masks(bpp, masks);
                } else if (compress == 3) {
                    masks.r = in.le32(), masks.g = in.le32(), masks.b = in.le32();
                    extra_read += 12;
                    if (masks.r == masks.g && masks.g == masks.b) return Verdict::pass();
                } else {
                    return Verdict::pass();
                }
            }
        } else {
            masks.r = in.le32(), masks.g = in.le32(), masks.b = in.le32(), masks.a = in.le32();
            if (compress == 0) default_masks(bpp, masks);
        }
    }
    if (height > max_decoder_side || width > std::uint32_t(max_decoder_side))
        return Verdict::pass();
    int palette = 0;
    if (os2 ? bpp < 24 : bpp < 16)
        palette = os2 ? (offset - extra_read - 24) / 3 : (offset - extra_read - int(header)) >> 2;
    if (palette == 0 && offset != extra_read + int(header)) return Verdict::pass();  // "bad offset"
    if (!sizes_fit(4, width, height)) return Verdict::pass();

    // What the decoder skips to reach the rows (past the palette, for fewer than 16 bits): a
    // negative amount would move it by a buffer's remainder, which no check here can follow.
    std::int64_t gap = std::int64_t(offset) - extra_read - std::int64_t(header);
    std::uint64_t row = 0, pad_width = 0;
    if (bpp < 16) {
        gap -= std::int64_t(palette) * (os2 ? 3 : 4);
        if (palette == 0 || palette > 256 || gap < 0) return Verdict::pass();  // "invalid"
        if (bpp == 1)
            row = (std::uint64_t(width) + 7) >> 3;
        else if (bpp == 4)
            row = (std::uint64_t(width) + 1) >> 1;
        else if (bpp == 8)
            row = width;
        else
            return Verdict::pass();  // "bad bpp"
        pad_width = row;
    } else {
        if (gap < 0 || !masks_accepted(bpp, masks)) return Verdict::pass();
        row = std::uint64_t(width) * (bpp == 24 ? 3 : bpp == 16 ? 2 : 4);
        pad_width = bpp == 32 ? 0 : row;  // the decoder pads 32-bit rows by nothing
    }
    // Rows are padded to 4 bytes; the last row's padding is skipped, not read.
    const std::uint64_t pad = (0 - pad_width) & 3;
    const std::uint64_t rows = std::uint64_t(height);
    const std::uint64_t needed = rows * row + (rows > 0 ? (rows - 1) * pad : 0);
    return Verdict::held(file.holds(std::uint64_t(offset), needed));
}

// ---- TGA -----------------------------------------------------------------------------------

namespace {

// The decoder's components for a pixel or palette entry of `bits` bits; 0 for none it reads.
int tga_components(int bits, bool grey, bool &rgb16) noexcept {
    rgb16 = false;
    switch (bits) {
        case 8:
            return 1;
        case 16:
            if (grey) return 2;
            [[fallthrough]];
        case 15:
            rgb16 = true;
            return 3;
        case 24:
        case 32:
            return bits / 8;
        default:
            return 0;
    }
}

// Run-length packets: a command byte (count - 1, and the top bit for a repeated pixel), then
// one pixel to repeat or `count` pixels.
Verdict check_tga_packets(InputBytes &in, std::uint64_t pixels,
                          std::uint64_t pixel_bytes) noexcept {
    for (std::uint64_t done = 0; done < pixels;) {
        const int command = in.next();
        if (command < 0) return Verdict::refuse("truncated");
        const std::uint64_t count = std::min<std::uint64_t>(1 + (command & 127), pixels - done);
        const std::uint64_t bytes = (command & 128) ? pixel_bytes : count * pixel_bytes;
        if (!in.holds(bytes)) return Verdict::refuse("truncated");
        in.skip(bytes);
        done += count;
    }
    return Verdict::pass();
}

}  // namespace

Verdict check_tga(InputFile &file) noexcept {
    InputBytes in(file);
    const int id_length = in.next_or_zero(), indexed = in.next_or_zero();
    int type = in.next_or_zero();
    const unsigned palette_start = in.le16(), palette_length = in.le16();
    const int palette_bits = in.next_or_zero();
    in.skip(4);  // the origin
    const unsigned width = in.le16(), height = in.le16();
    const int bits = in.next_or_zero();
    const bool rle = type >= 8;
    if (rle) type -= 8;
    bool rgb16 = false;
    const int components = indexed ? tga_components(palette_bits, false, rgb16)
                                   : tga_components(bits, type == 3, rgb16);
    if (components == 0 || !sizes_fit(width, height, components)) return Verdict::pass();

    std::uint64_t at = 18 + std::uint64_t(id_length);
    const std::uint64_t pixels = std::uint64_t(width) * height;
    if (indexed) {
        if (palette_length == 0) return Verdict::pass();  // "bad palette"
        at += palette_start;
        const std::uint64_t palette = std::uint64_t(palette_length) * (rgb16 ? 2 : components);
        // The decoder refuses a short palette, but for 16-bit entries, which it reads as zeros.
        if (!file.holds(at, palette)) return rgb16 ? Verdict::refuse("truncated") : Verdict::pass();
        at += palette;
    }
    const std::uint64_t pixel_bytes = indexed ? (bits == 8 ? 1 : 2) : rgb16 ? 2 : components;
    if (!rle) return Verdict::held(file.holds(at, pixels * pixel_bytes));
    InputBytes packets(file, at);
    return check_tga_packets(packets, pixels, pixel_bytes);
}

// ---- PSD -----------------------------------------------------------------------------------

namespace {

enum class Packed { complete, truncated, refused };

// One plane of PackBits: a count byte n, then n + 1 literal bytes (n < 128) or one byte repeated
// 257 - n times (n > 128); 128 does nothing.
Packed check_packbits(InputBytes &in, std::uint64_t count) noexcept {
    for (std::uint64_t done = 0; done < count;) {
        const int n = in.next();
        if (n < 0) return Packed::truncated;
        if (n == 128) continue;
        const std::uint64_t length = n < 128 ? std::uint64_t(n) + 1 : 257 - std::uint64_t(n);
        if (length > count - done) return Packed::refused;  // "corrupt"
        const std::uint64_t bytes = n < 128 ? length : 1;
        if (!in.holds(bytes)) return Packed::truncated;
        in.skip(bytes);
        done += length;
    }
    return Packed::complete;
}

}  // namespace

Verdict check_psd(InputFile &file) noexcept {
    InputBytes in(file, 4);
    if (in.be16() != 1) return Verdict::pass();
    in.skip(6);
    const int channels = int(in.be16());
    const auto height = std::int32_t(in.be32()), width = std::int32_t(in.be32());
    const int depth = int(in.be16());
    if (channels > 16 || height > max_decoder_side || width > max_decoder_side)
        return Verdict::pass();
    if ((depth != 8 && depth != 16) || in.be16() != 3) return Verdict::pass();
    // The colour mode data, the image resources and the layers, each skipped by its length. The
    // decoder takes a length of 2^31 or more as negative and moves by a buffer's remainder.
    for (int section = 0; section < 3; ++section) {
        const std::uint32_t length = in.be32();
        if (!in.holds(length)) return Verdict::refuse("truncated");
        if (std::int32_t(length) < 0) return Verdict::pass();
        in.skip(length);
    }
    const int compression = int(in.be16());
    if (compression > 1 || !sizes_fit(4, width, height)) return Verdict::pass();

    // The decoder reads the first four planes (red, green, blue, alpha) and no more.
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    const int planes = std::min(channels, 4);
    if (compression == 0)
        return Verdict::held(in.holds(std::uint64_t(planes) * pixels * std::uint64_t(depth / 8)));
    const std::uint64_t row_counts = std::uint64_t(height) * std::uint64_t(channels) * 2;
    if (!in.holds(row_counts)) return Verdict::refuse("truncated");
    in.skip(row_counts);
    for (int plane = 0; plane < planes; ++plane) {
        switch (check_packbits(in, pixels)) {
            case Packed::truncated:
                return Verdict::refuse("truncated");
            case Packed::refused:
                return Verdict::pass();
            case Packed::complete:
                break;
        }
    }
    return Verdict::pass();
}

// ---- PNM -----------------------------------------------------------------------------------

namespace {

bool pnm_space(int c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Blanks and '#' comments, as the decoder skips them; `c` is the character in hand.
void skip_pnm_blanks(InputBytes &in, int &c) noexcept {
    for (;;) {
        while (!in.at_end() && pnm_space(c)) c = in.next_or_zero();
        if (in.at_end() || c != '#') break;
        while (!in.at_end() && c != '\n' && c != '\r') c = in.next_or_zero();
    }
}

// A decimal number as the decoder reads it, wrapping as its int does.
int pnm_integer(InputBytes &in, int &c) noexcept {
    unsigned value = 0;
    while (!in.at_end() && c >= '0' && c <= '9') {
        value = value * 10 + unsigned(c - '0');
        c = in.next_or_zero();
    }
    return int(value);
}

}  // namespace

Verdict check_pnm(InputFile &file) noexcept {
    InputBytes in(file, 1);
    const int components = in.next_or_zero() == '6' ? 3 : 1;
    int c = in.next_or_zero();
    skip_pnm_blanks(in, c);
    const int width = pnm_integer(in, c);
    skip_pnm_blanks(in, c);
    const int height = pnm_integer(in, c);
    skip_pnm_blanks(in, c);
    const int max_value = pnm_integer(in, c);
    // The rows start right after the character that ended the maximum value.
    if (max_value > 65535) return Verdict::pass();
    const int sample_bytes = max_value > 255 ? 2 : 1;
    if (std::uint32_t(width) > std::uint32_t(max_decoder_side) ||
        std::uint32_t(height) > std::uint32_t(max_decoder_side) ||
        !sizes_fit(components, width, height, sample_bytes))
        return Verdict::pass();
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) *
                                std::uint64_t(components) * std::uint64_t(sample_bytes);
    return Verdict::held(in.holds(bytes));
}

// ---- PIC -----------------------------------------------------------------------------------

// The decoder fills the whole picture before it reads the packets that describe its rows, so a
// broken packet list is refused here, with the decoder's reason, before that.
Verdict check_pic(InputFile &file) noexcept {
    InputBytes in(file, 92);
    const unsigned width = in.be16(), height = in.be16();
    if (in.at_end() || !sizes_fit(width, height, 4)) return Verdict::pass();
    in.skip(8);  // ratio, fields, padding
    // The fewest bytes a row can take: raw packets store each pixel's channels; run-length
    // packets a count (1 byte, or 3 for a mixed packet's longest runs) and one pixel per run.
    std::uint64_t row_bytes = 0;
    for (int packets = 0, chained = 1; chained; ++packets) {
        if (packets == 10) return Verdict::refuse("bad format");
        chained = in.next_or_zero();
        const int size = in.next_or_zero(), type = in.next_or_zero(), channels = in.next_or_zero();
        if (in.at_end()) return Verdict::refuse("bad file");
        const std::uint64_t n = std::uint64_t(std::popcount(unsigned(channels) & 0xF0u));
        if (size != 8 || n == 0) return Verdict::refuse("bad format");
        if (type == 0)
            row_bytes += width * n;
        else if (type == 1)
            row_bytes += ceil_div(width, 255) * (1 + n);
        else if (type == 2)
            row_bytes += ceil_div(width, 65535) * (3 + n);
        else if (height > 0)
            return Verdict::refuse("bad format");
    }
    return Verdict::held(in.holds(std::uint64_t(height) * row_bytes));
}

}  // namespace kelvane

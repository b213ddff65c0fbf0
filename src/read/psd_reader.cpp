#include "read/psd_reader.hpp"

#include <climits>

#include "read/raster_checks.hpp"

namespace kelvane {
namespace {

// A 32-bit field as stb keeps it: read unsigned, stored in an int, so 2^31 and more come out
// negative. (Past the end of the file, fields read as 0, as stb reads them.)
int stb_int32(InputBytes &in) noexcept { return int(in.be32()); }

// PackBits, as PSD and TIFF use it, into every 4th byte of `p`; false when a run would overflow.
bool decode_rle(InputBytes &in, std::uint8_t *p, int count) noexcept {
    for (int done = 0; done < count;) {
        int len = in.next_or_zero();
        if (len == 128) continue;
        const bool literal = len < 128;
        len = literal ? len + 1 : 257 - len;
        if (len > count - done) return false;
        const int repeated = literal ? 0 : in.next_or_zero();
        for (int i = 0; i < len; ++i, p += 4)
            *p = std::uint8_t(literal ? in.next_or_zero() : repeated);
        done += len;
    }
    return true;
}

// The colour that stb's un-matting gives, computed in the same float operations, held to 0..255.
std::uint8_t unmatted(std::uint8_t colour, float ra, float inv_a) noexcept {
    const float v = colour * ra + inv_a;
    return v <= 0.0f ? 0 : v >= 255.0f ? 255 : std::uint8_t(v);
}

void remove_white_matte(std::uint8_t *pixels, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t *px = pixels + i * 4;
        if (px[3] == 0 || px[3] == 255) continue;
        const float a = px[3] / 255.0f;
        const float ra = 1.0f / a;
        const float inv_a = 255.0f * (1 - ra);
        for (int c = 0; c < 3; ++c) px[c] = unmatted(px[c], ra, inv_a);
    }
}

// Reads the four planes (colour, then alpha) into RGBA; planes the file lacks are 0 (alpha 255).
bool read_planes(InputBytes &in, int channels, int depth, bool rle, std::uint8_t *out,
                 int count) noexcept {
    for (int channel = 0; channel < 4; ++channel) {
        std::uint8_t *p = out + channel;
        if (channel >= channels) {
            for (int i = 0; i < count; ++i, p += 4) *p = channel == 3 ? 255 : 0;
        } else if (rle) {
            if (!decode_rle(in, p, count)) return false;
        } else {
            for (int i = 0; i < count; ++i, p += 4)
                *p = std::uint8_t(depth == 16 ? int(in.be16()) >> 8 : in.next_or_zero());
        }
    }
    return true;
}

}  // namespace

bool is_psd_with_alpha(const std::uint8_t *head, std::size_t size) noexcept {
    return size >= 14 && head[0] == '8' && head[1] == 'B' && head[2] == 'P' && head[3] == 'S' &&
           ((head[12] << 8) | head[13]) >= 4;
}

Decoded read_psd_with_alpha(InputFile &file) noexcept {
    InputBytes in(file);
    if (stb_int32(in) != 0x38425053) return Decoded::refused("not PSD");
    if (int(in.be16()) != 1) return Decoded::refused("wrong version");
    in.skip(6);
    const int channels = int(in.be16());
    if (channels > 16) return Decoded::refused("wrong channel count");
    const int height = stb_int32(in), width = stb_int32(in);
    if (height > max_decoder_side || width > max_decoder_side) return Decoded::refused("too large");
    const int depth = int(in.be16());
    if (depth != 8 && depth != 16) return Decoded::refused("unsupported bit depth");
    if (int(in.be16()) != 3) return Decoded::refused("wrong color format");
    // Mode data, resources and layers: the checks refused section lengths of 2^31 and more.
    for (int section = 0; section < 3; ++section) in.skip(std::uint64_t(stb_int32(in)));
    const int compression = int(in.be16());
    if (compression > 1) return Decoded::refused("bad compression");
    if (width < 0 || height < 0 || std::int64_t(width) * height * 4 > INT_MAX)
        return Decoded::refused("too large");

    Decoded d;
    const int count = width * height;
    d.pixels = alloc_pixels(width, height, 4);
    if (!d.pixels) return Decoded::refused("outofmem");
    if (compression == 1)
        in.skip(std::uint64_t(height) * std::uint64_t(channels) * 2);  // the rows' byte counts
    if (!read_planes(in, channels, depth, compression == 1, d.pixels.get(), count))
        return Decoded::refused("corrupt");
    remove_white_matte(d.pixels.get(), std::size_t(count));
    d.width = width;
    d.height = height;
    d.channels = 4;
    return d;
}

}  // namespace kelvane

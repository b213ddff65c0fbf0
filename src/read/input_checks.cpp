#include "read/input_checks.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "read/raster_checks.hpp"

namespace kelvane {
namespace {

// ---- JPEG ----------------------------------------------------------------------------------

constexpr int sof0 = 0xC0, sof2 = 0xC2, define_huffman_table = 0xC4, end_of_image = 0xD9,
              start_of_scan = 0xDA;
constexpr int max_huffman_codes = 256;

// What a JPEG's entropy-coded data must hold. Every block of every component is coded at least
// once, in at least 1 bit (a baseline block takes 2 at least, a progressive DC scan's block 1):
// a byte holds at most 8 blocks of the frame. The scans together visit blocks, each visit a
// pass over a block's coefficients; a progressive file of a picture of one colour, with the
// usual ten scans, visits about 25 blocks per byte: 128 is far more than any real file needs.
// A frame of up to 32768 blocks passes whatever it holds: the decoder's work on it is small.
constexpr std::uint64_t max_frame_blocks_per_byte = 8;
constexpr std::uint64_t max_visits_per_byte = 128;
constexpr std::uint64_t free_blocks = 1 << 15;

// Markers that stand alone, without a length: TEM, RST0-7, SOI (and stuffed 0x00).
bool stands_alone(int marker) noexcept {
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

// The next marker: the byte after the next 0xFF (and any 0xFF fill bytes); -1 at the end.
int next_marker(InputBytes &in) noexcept {
    if (!in.past_next(0xFF)) return -1;
    int marker = in.next();
    while (marker == 0xFF) marker = in.next();
    return marker;
}

// Moves past the entropy-coded data of a scan (stuffed bytes and restart markers included) and
// returns the marker that ends it (-1 at the end of the file), counting the data's bytes.
int past_entropy_data(InputBytes &in, std::uint64_t &bytes) noexcept {
    const std::uint64_t start = in.position();
    int marker;
    do marker = next_marker(in);
    while (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7));
    bytes += in.position() - start;
    return marker;
}

// The tables of one DHT segment (`length` bytes after its length field), read as the decoder
// reads them: 17 bytes of class and code counts, then the codes' values, while any length is left
// (a table may run past the segment's end, and bytes past the file's end read as 0).
bool tables_fit(InputBytes &in, long length) noexcept {
    while (length > 0) {
        int codes = 0, read = 0;
        for (int i = 0; i < 17; ++i) {
            const int byte = in.next();
            if (byte < 0) continue;
            ++read;
            if (i > 0) codes += byte;
        }
        if (read == 0) return true;
        if (codes > max_huffman_codes) return false;
        in.skip(std::uint64_t(codes));
        length -= 17 + codes;
    }
    return true;
}

// The frame (SOF0, SOF1 or SOF2) as far as the scans' sizes need it; `valid` only when the
// decoder accepts it and would allocate its planes.
struct JpegFrame {
    bool seen = false, valid = false, progressive = false;
    int width = 0, height = 0, count = 0, h_max = 1, v_max = 1;
    int id[4] = {}, h[4] = {}, v[4] = {};
};

void read_frame(InputBytes &in, int marker, long length, JpegFrame &f) noexcept {
    f.seen = true;
    f.progressive = marker == sof2;
    const int precision = in.next_or_zero();
    f.height = int(in.be16());
    f.width = int(in.be16());
    f.count = in.next_or_zero();
    if (length + 2 < 11 || precision != 8 || f.width == 0 || f.height == 0) return;
    if ((f.count != 1 && f.count != 3 && f.count != 4) || length + 2 != 8 + 3 * f.count) return;
    for (int i = 0; i < f.count; ++i) {
        f.id[i] = in.next_or_zero();
        const int q = in.next_or_zero();
        f.h[i] = q >> 4;
        f.v[i] = q & 15;
        if (f.h[i] < 1 || f.h[i] > 4 || f.v[i] < 1 || f.v[i] > 4 || in.next_or_zero() > 3) return;
        f.h_max = std::max(f.h_max, f.h[i]);
        f.v_max = std::max(f.v_max, f.v[i]);
    }
    for (int i = 0; i < f.count; ++i)
        if (f.h_max % f.h[i] != 0 || f.v_max % f.v[i] != 0) return;
    f.valid = sizes_fit(f.width, f.height, f.count);
}

// The blocks that component c codes: its share of the picture, in 8 x 8 blocks.
std::uint64_t component_blocks(const JpegFrame &f, int c) noexcept {
    const std::uint64_t x = ceil_div(std::uint64_t(f.width) * std::uint64_t(f.h[c]), f.h_max);
    const std::uint64_t y = ceil_div(std::uint64_t(f.height) * std::uint64_t(f.v[c]), f.v_max);
    return ceil_div(x, 8) * ceil_div(y, 8);
}

std::uint64_t frame_blocks(const JpegFrame &f) noexcept {
    std::uint64_t blocks = 0;
    for (int c = 0; c < f.count; ++c) blocks += component_blocks(f, c);
    return blocks;
}

// The blocks that the scan whose header follows visits, as the decoder walks them: a scan of one
// component visits that component's blocks; an interleaved scan, every MCU's blocks.
std::uint64_t scan_blocks(InputBytes &in, const JpegFrame &f) noexcept {
    const int n = in.next_or_zero();
    if (n < 1 || n > 4 || n > f.count) return 0;  // refused by the decoder
    int component[4];
    for (int i = 0; i < n; ++i) {
        const int id = in.next_or_zero();
        in.next_or_zero();
        component[i] = int(std::find(f.id, f.id + f.count, id) - f.id);
        if (component[i] == f.count) return 0;
    }
    if (n == 1) return component_blocks(f, component[0]);
    std::uint64_t per_mcu = 0;
    for (int i = 0; i < n; ++i) per_mcu += std::uint64_t(f.h[component[i]]) * f.v[component[i]];
    return ceil_div(f.width, 8 * std::uint64_t(f.h_max)) *
           ceil_div(f.height, 8 * std::uint64_t(f.v_max)) * per_mcu;
}

Verdict check_jpeg(InputFile &file) noexcept {
    InputBytes in(file);
    JpegFrame frame;
    int scans = 0;
    std::uint64_t blocks = 0, entropy_bytes = 0;
    // Segments are skipped by their lengths, up to the end of the image, where the decoder stops.
    int marker = next_marker(in);
    while (marker >= 0 && marker != end_of_image) {
        if (stands_alone(marker)) {
            marker = next_marker(in);
            continue;
        }
        const int high = in.next(), low = in.next();
        if (low < 0) break;
        const long length = ((long(high) << 8) | low) - 2;
        const std::uint64_t segment_end = in.position() + std::uint64_t(std::max(length, 0L));
        if (marker == define_huffman_table) {
            if (!tables_fit(in, length)) return Verdict::refuse("bad DHT header");
            marker = next_marker(in);
            continue;
        }
        if (marker >= sof0 && marker <= sof2 && !frame.seen) {
            read_frame(in, marker, length, frame);
        } else if (marker == start_of_scan && frame.valid) {
            ++scans;
            blocks += scan_blocks(in, frame);
            in.skip(segment_end - std::min(segment_end, in.position()));
            marker = past_entropy_data(in, entropy_bytes);
            continue;
        }
        in.skip(segment_end - std::min(segment_end, in.position()));
        marker = next_marker(in);
    }
    if (!frame.valid) return Verdict::pass();  // the decoder refuses the frame, or finds none
    if (scans == 0) return Verdict::refuse("no scans");
    if (frame.progressive && scans > max_progressive_scans)
        return Verdict::refuse("too many scans");
    if (frame_blocks(frame) > max_frame_blocks_per_byte * entropy_bytes + free_blocks ||
        blocks > max_visits_per_byte * entropy_bytes + free_blocks)
        return Verdict::refuse("truncated");
    return Verdict::pass();
}

// ---- PNG -----------------------------------------------------------------------------------

// Where the decoder is in a PNG file. It reads through a buffer of 128 bytes, refilled when
// empty, and takes larger blocks past it; skipping a chunk whose length reads as a negative int
// (2^31 or more) takes it to the end of its buffer instead of past the chunk, so the chunks it
// reads next depend on where that buffer ends.
class PngReading {
  public:
    explicit PngReading(std::uint64_t at) noexcept : at_(at) {}
    std::uint64_t at() const noexcept { return at_; }
    void bytes(std::uint64_t count) noexcept {  // one at a time, refilling the buffer
        at_ += count;
        if (at_ > buffer_end_)
            buffer_end_ += (at_ - buffer_end_ + buffer_size - 1) / buffer_size * buffer_size;
    }
    void block(std::uint64_t count) noexcept {  // the rest of the buffer, then past it
        if (count > buffer_end_ - at_) buffer_end_ = at_ + count;
        at_ += count;
    }
    void skip(std::uint32_t count) noexcept {
        if (count >= 0x80000000u)
            at_ = buffer_end_;
        else
            block(count);
    }

  private:
    static constexpr std::uint64_t buffer_size = 128;
    std::uint64_t at_, buffer_end_ = buffer_size;  // the first fill held the signature
};

// An IDAT chunk that claims more bytes than the file holds after it: the decoder would first
// grow its buffer to that size (up to 2 GiB for a file of a few bytes) and then fail.
Verdict check_png(InputFile &file) noexcept {
    constexpr std::uint32_t header = 0x49484452, image_data = 0x49444154, end = 0x49454E44,
                            palette = 0x504C5445, transparency = 0x74524E53,
                            apple = 0x43674249;  // IHDR IDAT IEND PLTE tRNS CgBI
    // Chunks: a 4-byte big-endian length, a 4-byte type, the data and a 4-byte CRC. The walk
    // stops where the decoder stops reading: at the end chunk, and at a first chunk that is not
    // the header or a critical chunk it does not know, which it refuses at once.
    bool header_seen = false;
    PngReading reading(8);
    for (InputBytes in(file, 8); in.holds(8);) {
        const std::uint32_t length = in.be32(), type = in.be32();
        reading.bytes(8);
        const bool critical = (type & (1u << 29)) == 0;
        if (type == end || (!header_seen && type != header && type != apple) ||
            (critical && type != header && type != image_data && type != palette && type != apple))
            return Verdict::pass();
        header_seen = header_seen || type == header;
        if (type == image_data && !in.holds(length)) return Verdict::refuse("outofdata");
        if (type == image_data)
            reading.block(length);
        else if (type == header || type == palette || type == transparency)
            reading.bytes(length);
        else
            reading.skip(length);
        reading.bytes(4);  // the CRC
        in.skip(reading.at() - in.position());
    }
    return Verdict::pass();
}

// ---- Radiance HDR --------------------------------------------------------------------------

constexpr int hdr_line_size = 1024;

// One header line as the decoder reads it, a C string: up to 1023 characters, the rest of the
// line dropped.
void hdr_line(InputBytes &in, char (&line)[hdr_line_size]) noexcept {
    int n = 0;
    for (int c = in.next(); c >= 0 && c != '\n'; c = in.next())
        if (n < hdr_line_size - 1) line[n++] = char(c);
    line[n] = '\0';
}

// One run-length coded scanline's four channels, each in runs (a count above 128 repeats one
// byte) and dumps (a count of bytes copied). A dump of 0 makes no progress: past the file's end,
// where the decoder reads zeros, it loops for ever.
Verdict hdr_scanline(InputBytes &in, int width, bool &refused) noexcept {
    for (int channel = 0; channel < 4; ++channel) {
        for (int filled = 0; filled < width;) {
            int count = in.next_or_zero();
            const bool run = count > 128;
            if (run) {
                count -= 128;
                in.next_or_zero();
            }
            if (count > width - filled) {  // the decoder refuses the file
                refused = true;
                return Verdict::pass();
            }
            if (count == 0) return Verdict::refuse("corrupt");
            if (!run) in.skip(std::uint64_t(count));
            filled += count;
        }
    }
    return Verdict::pass();
}

Verdict check_hdr(InputFile &file) noexcept {
    InputBytes in(file);
    char line[hdr_line_size];
    hdr_line(in, line);  // the signature
    bool rle_format = false;
    for (hdr_line(in, line); line[0] != '\0'; hdr_line(in, line))
        rle_format = rle_format || std::strcmp(line, "FORMAT=32-bit_rle_rgbe") == 0;
    // The size line, "-Y <height> +X <width>", read as the decoder reads it.
    hdr_line(in, line);
    if (!rle_format || std::strncmp(line, "-Y ", 3) != 0) return Verdict::pass();
    char *rest = nullptr;
    const int height = int(std::strtol(line + 3, &rest, 10));
    while (*rest == ' ') ++rest;
    if (std::strncmp(rest, "+X ", 3) != 0) return Verdict::pass();
    const int width = int(std::strtol(rest + 3, nullptr, 10));
    if (height > max_decoder_side || width > max_decoder_side || !sizes_fit(width, height, 4, 4))
        return Verdict::pass();
    const std::uint64_t flat_bytes = std::uint64_t(width) * std::uint64_t(height) * 4;
    // Outside 8..32767 pixels a row is stored flat.
    if (width < 8 || width >= 32768) return Verdict::held(in.holds(flat_bytes));
    for (int row = 0; row < height; ++row) {
        const std::uint64_t row_start = in.position();
        const int c1 = in.next_or_zero(), c2 = in.next_or_zero(), high = in.next_or_zero();
        if (c1 != 2 || c2 != 2 || (high & 0x80)) {
            // A row that is not run-length coded: the decoder reads the whole picture flat from
            // here.
            return Verdict::held(file.holds(row_start, flat_bytes));
        }
        if (((high << 8) | in.next_or_zero()) != width)
            return Verdict::pass();  // refused by the decoder
        bool refused = false;
        if (const Verdict scanline = hdr_scanline(in, width, refused); scanline.refused())
            return scanline;
        if (refused) return Verdict::pass();
    }
    return Verdict::pass();
}

// ---- GIF -----------------------------------------------------------------------------------

// The pixels a byte of LZW data can yield at most (a code of 12 bits yields at most 4096 pixels,
// the decoder's longest string: 2731 pixels a byte), with room to spare.
constexpr std::uint64_t max_gif_pixels_per_byte = 4096;
// A picture this small passes whatever its data: the blank spacer pictures of the web.
constexpr std::uint64_t small_gif_pixels = 1 << 16;

// The data sub-blocks (a length byte, then that many bytes) up to the empty one that ends them;
// false when the file ends first.
bool past_sub_blocks(InputBytes &in, std::uint64_t &bytes) noexcept {
    for (;;) {
        const int length = in.next();
        if (length < 0 || !in.holds(std::uint64_t(length))) return false;
        if (length == 0) return true;
        in.skip(std::uint64_t(length));
        bytes += std::uint64_t(length);
    }
}

// The decoder allocates the whole screen before it reads past the header, and refuses a broken
// structure only afterwards: what it would refuse is refused here first, with its reason.
Verdict check_gif(InputFile &file) noexcept {
    InputBytes in(file, 6);
    const unsigned width = in.le16(), height = in.le16();
    const int flags = in.next_or_zero();
    in.skip(2);
    if (!sizes_fit(4, int(width), int(height))) return Verdict::pass();  // refused as too large
    const bool global_table = flags & 0x80;
    if (global_table) in.skip(3 * (2u << (flags & 7)));
    for (;;) {
        switch (in.next_or_zero()) {
            case 0x2C: {  // the image descriptor: the first frame
                const unsigned x = in.le16(), y = in.le16(), w = in.le16(), h = in.le16();
                if (x + w > width || y + h > height) return Verdict::refuse("bad Image Descriptor");
                const int local_flags = in.next_or_zero();
                if (local_flags & 0x80)
                    in.skip(3 * (2u << (local_flags & 7)));
                else if (!global_table)
                    return Verdict::refuse("missing color table");
                if (in.next_or_zero() > 12)
                    return Verdict::refuse_without_reason();  // an LZW code size the decoder
                                                              // declines
                std::uint64_t data = 0;
                if (!past_sub_blocks(in, data)) return Verdict::refuse("truncated");
                const std::uint64_t pixels = std::uint64_t(width) * height;
                if (pixels > small_gif_pixels && pixels > data * max_gif_pixels_per_byte)
                    return Verdict::refuse("truncated");
                return Verdict::pass();
            }
            case 0x21: {                          // an extension
                if (in.next_or_zero() == 0xF9) {  // graphic control, as the decoder reads it
                    const int length = in.next_or_zero();
                    in.skip(std::uint64_t(length));
                    if (length != 4) break;  // the decoder reads no sub-blocks after it
                }
                for (int length = in.next_or_zero(); length != 0; length = in.next_or_zero())
                    in.skip(std::uint64_t(length));
                break;
            }
            case 0x3B:  // the end of the file before any frame: refused without a reason
                return Verdict::refuse_without_reason();
            default:
                return Verdict::refuse("unknown code");
        }
    }
}

}  // namespace

Verdict input_refusal(StbFormat format, InputFile &file) noexcept {
    switch (format) {
        case StbFormat::jpeg:
            return check_jpeg(file);
        case StbFormat::png:
            return check_png(file);
        case StbFormat::hdr:
            return check_hdr(file);
        case StbFormat::gif:
            return check_gif(file);
        case StbFormat::bmp:
            return check_bmp(file);
        case StbFormat::tga:
            return check_tga(file);
        case StbFormat::psd:
            return check_psd(file);
        case StbFormat::pnm:
            return check_pnm(file);
        case StbFormat::pic:
            return check_pic(file);
        case StbFormat::unknown:
            break;
    }
    return Verdict::pass();
}

}  // namespace kelvane

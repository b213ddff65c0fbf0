#include "decoder_guards.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "file_bytes.hpp"

namespace kelvane {
namespace {

constexpr int define_huffman_table = 0xC4;
constexpr long max_decoder_side = 1 << 24;
constexpr int max_huffman_codes = 256;

// Markers that stand alone, without a length: TEM, RST0-7, SOI, EOI (and stuffed 0x00).
bool stands_alone(int marker) noexcept {
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

// The tables of one DHT segment (`length` bytes after its length field), read as the decoder
// reads them: 17 bytes of class and code counts, then the codes' values, while any length is left
// (a table may run past the segment's end, and bytes past the file's end read as 0).
bool tables_fit(FileBytes &in, long length) noexcept {
    while (length > 0) {
        int codes = 0, read = 0;
        for (int i = 0; i < 17; ++i) {
            const int byte = in.next();
            if (byte == EOF) continue;
            ++read;
            if (i > 0) codes += byte;
        }
        if (read == 0) return true;
        if (codes > max_huffman_codes) return false;
        in.skip(codes);
        length -= 17 + codes;
    }
    return true;
}

}  // namespace

bool is_jpeg(const unsigned char *head, std::size_t size) noexcept {
    // SOI, after any number of 0xFF fill bytes, as the decoder accepts it.
    std::size_t i = 0;
    while (i < size && head[i] == 0xFF) ++i;
    return i > 0 && (i == size || head[i] == 0xD8);
}

bool jpeg_huffman_tables_fit(std::FILE *file) noexcept {
    // Segments are skipped by their lengths; entropy-coded data between them is searched for the
    // next marker.
    FileBytes in(file);
    while (in.past_next_ff()) {
        int marker = in.next();
        while (marker == 0xFF) marker = in.next();
        if (marker == EOF) break;
        if (stands_alone(marker)) continue;
        const int high = in.next(), low = in.next();
        if (low == EOF) break;
        const long length = ((long(high) << 8) | low) - 2;
        if (marker == define_huffman_table) {
            if (!tables_fit(in, length)) return false;
        } else if (length > 0) {
            in.skip(length);
        }
    }
    return true;
}

bool is_png(const unsigned char *head, std::size_t size) noexcept {
    return size >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0;
}

bool png_data_within_file(std::FILE *file) noexcept {
    if (std::fseek(file, 0, SEEK_END) != 0) return true;
    const long end = std::ftell(file);
    if (end < 0 || std::fseek(file, 8, SEEK_SET) != 0) return true;
    // Chunks: a 4-byte big-endian length, a 4-byte type, the data and a 4-byte CRC.
    for (;;) {
        unsigned char header[8];
        if (std::fread(header, 1, sizeof header, file) != sizeof header) return true;
        const unsigned long length =
            (unsigned long)header[0] << 24 | header[1] << 16 | header[2] << 8 | header[3];
        const long here = std::ftell(file);
        if (here < 0) return true;
        const unsigned long left = (unsigned long)(end - here);
        if (std::memcmp(header + 4, "IDAT", 4) == 0 && length > left) return false;
        if (length > left || std::fseek(file, long(length) + 4, SEEK_CUR) != 0) return true;
    }
}

namespace {

// One header line as the decoder reads it: up to 1023 characters, the rest of the line dropped.
std::string hdr_line(FileBytes &in) {
    std::string line;
    for (int c = in.next(); c != EOF && c != '\n'; c = in.next())
        if (line.size() < 1023) line += char(c);
    return line;
}

// The scanline's four channels, each in runs (a count above 128 repeats one byte) and dumps (a
// count of bytes copied); false at a dump of 0, which makes no progress.
bool hdr_scanline_ends(FileBytes &in, int width) noexcept {
    for (int channel = 0; channel < 4; ++channel) {
        for (int filled = 0; filled < width;) {
            int count = in.next_or_zero();
            const bool run = count > 128;
            if (run) {
                count -= 128;
                in.next_or_zero();
            }
            if (count > width - filled) return true;  // the decoder refuses the file
            if (count == 0) return false;
            if (!run) in.skip(count);
            filled += count;
        }
    }
    return true;
}

}  // namespace

bool is_hdr(const unsigned char *head, std::size_t size) noexcept {
    auto starts = [&](const char *signature) {
        const std::size_t n = std::strlen(signature);
        return size >= n && std::memcmp(head, signature, n) == 0;
    };
    return starts("#?RADIANCE\n") || starts("#?RGBE\n");
}

bool hdr_runs_end(std::FILE *file) noexcept {
    FileBytes in(file);
    hdr_line(in);  // the signature
    bool rle_format = false;
    // Lines are C strings to the decoder: one that starts with NUL ends the header too.
    for (std::string line = hdr_line(in); line[0] != '\0'; line = hdr_line(in))
        rle_format = rle_format || std::strcmp(line.c_str(), "FORMAT=32-bit_rle_rgbe") == 0;
    // The size line, "-Y <height> +X <width>", read as the decoder reads it.
    const std::string size = hdr_line(in);
    if (!rle_format || std::strncmp(size.c_str(), "-Y ", 3) != 0) return true;
    char *rest = nullptr;
    const long height = std::strtol(size.c_str() + 3, &rest, 10);
    while (*rest == ' ') ++rest;
    if (std::strncmp(rest, "+X ", 3) != 0) return true;
    const long width = std::strtol(rest + 3, nullptr, 10);
    // Outside 8..32767 pixels a row is stored flat, which always ends.
    if (width < 8 || width >= 32768 || height > max_decoder_side) return true;
    for (long row = 0; row < height; ++row) {
        const int c1 = in.next_or_zero(), c2 = in.next_or_zero(), high = in.next_or_zero();
        if (c1 != 2 || c2 != 2 || (high & 0x80)) return true;         // flat from here on
        if (((high << 8) | in.next_or_zero()) != width) return true;  // refused by the decoder
        if (!hdr_scanline_ends(in, int(width))) return false;
    }
    return true;
}

}  // namespace kelvane

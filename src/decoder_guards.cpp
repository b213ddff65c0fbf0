#include "decoder_guards.hpp"

#include <cstring>

namespace kelvane {
namespace {

constexpr int define_huffman_table = 0xC4;
constexpr int max_huffman_codes = 256;

// Markers that stand alone, without a length: TEM, RST0-7, SOI, EOI (and stuffed 0x00).
bool stands_alone(int marker) noexcept {
    return marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9);
}

// The tables of one DHT segment (`length` bytes after its length field), read as the decoder
// reads them: 17 bytes of class and code counts, then the codes' values, while any length is left
// (a table may run past the segment's end, and bytes past the file's end read as 0).
bool tables_fit(std::FILE *file, long length) noexcept {
    while (length > 0) {
        unsigned char counts[17] = {};
        if (std::fread(counts, 1, sizeof counts, file) == 0) return true;
        int codes = 0;
        for (int i = 1; i < 17; ++i) codes += counts[i];
        if (codes > max_huffman_codes) return false;
        if (std::fseek(file, codes, SEEK_CUR) != 0) return true;
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
    // Segments are skipped by their lengths; entropy-coded data between them is read byte by
    // byte up to the next marker.
    for (int byte = std::fgetc(file); byte != EOF;) {
        if (byte != 0xFF) {
            byte = std::fgetc(file);
            continue;
        }
        int marker = std::fgetc(file);
        while (marker == 0xFF) marker = std::fgetc(file);
        if (marker == EOF) break;
        if (stands_alone(marker)) {
            byte = std::fgetc(file);
            continue;
        }
        const int high = std::fgetc(file), low = std::fgetc(file);
        if (low == EOF) break;
        const long length = ((long(high) << 8) | low) - 2;
        if (marker == define_huffman_table) {
            if (!tables_fit(file, length)) return false;
        } else if (length > 0 && std::fseek(file, length, SEEK_CUR) != 0) {
            break;
        }
        byte = std::fgetc(file);
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

}  // namespace kelvane

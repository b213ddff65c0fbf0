#include "formats.hpp"

#include <stb_image_write.h>

#include <functional>
#include <unordered_map>

namespace kelvane_test {

std::string be16(int v) { return {char(v >> 8), char(v & 255)}; }
std::string be32(std::uint32_t v) { return be16(int(v >> 16)) + be16(int(v & 0xffff)); }
std::string le16(int v) { return {char(v & 255), char(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(int(v & 0xffff)) + le16(int(v >> 16)); }

std::string psd(int width, int height, int depth, int compression,
                const std::vector<std::string> &planes, int channels) {
    std::string s = "8BPS" + be16(1) + std::string(6, '\0');
    s += be16(channels < 0 ? int(planes.size()) : channels) + be32(std::uint32_t(height)) +
         be32(std::uint32_t(width)) + be16(depth) + be16(3);
    s += be32(0) + be32(0) + be32(0) + be16(compression);
    for (const std::string &plane : planes) s += plane;
    return s;
}

std::string psd_of(const Picture &picture, bool packbits) {
    const std::size_t count = picture.rgba.size() / 4;
    std::vector<std::string> planes(4);
    for (int c = 0; c < 4; ++c) {
        std::string &plane = planes[std::size_t(c)];
        for (std::size_t i = 0; i < count; ++i) {
            if (packbits && i % 128 == 0) plane += char(std::min<std::size_t>(128, count - i) - 1);
            plane += char(picture.rgba[i * 4 + std::size_t(c)]);
        }
    }
    if (packbits) planes[0] = std::string(std::size_t(picture.height) * 4 * 2, '\0') + planes[0];
    return psd(picture.width, picture.height, 8, packbits ? 1 : 0, planes);
}

namespace {

void append_stb(void *context, void *data, int size) {
    static_cast<std::string *>(context)->append(static_cast<const char *>(data), std::size_t(size));
}

}  // namespace

std::string bmp_of(const Picture &p) {
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < p.rgba.size(); ++i)
        if (i % 4 != 3) rgb.push_back(p.rgba[i]);
    std::string s;
    stbi_write_bmp_to_func(append_stb, &s, p.width, p.height, 3, rgb.data());
    return s;
}

std::string tga_of(const Picture &p, bool rle) {
    std::string s;
    const int saved = stbi_write_tga_with_rle;
    stbi_write_tga_with_rle = rle ? 1 : 0;
    stbi_write_tga_to_func(append_stb, &s, p.width, p.height, 4, p.rgba.data());
    stbi_write_tga_with_rle = saved;
    return s;
}

std::string jpeg_of(const Picture &p, int quality) {
    std::string s;
    stbi_write_jpg_to_func(append_stb, &s, p.width, p.height, 4, p.rgba.data(), quality);
    return s;
}

std::string ppm_of(const Picture &p) {
    std::string s = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    for (std::size_t i = 0; i < p.rgba.size(); i += 4)
        s.append(p.rgba.begin() + long(i), p.rgba.begin() + long(i) + 3);
    return s;
}

std::string pic_of(const Picture &p) {
    std::string s = "\x53\x80\xF6\x34" + std::string(84, '\0') + "PICT";
    s += be16(p.width) + be16(p.height) + std::string(8, '\0');
    s += std::string("\x00\x08\x00\xF0", 4);  // the last packet: 8 bits, raw, R G B A
    s.append(p.rgba.begin(), p.rgba.end());
    return s;
}

namespace {

// A GIF of a 256-entry palette of grey, each pixel its red sample's entry, with the LZW codes
// that `encode` writes through put(code, bits).
std::string grey_gif(const Picture &p,
                     const std::function<void(const std::function<void(int, int)> &)> &encode) {
    std::string s = "GIF89a" + le16(p.width) + le16(p.height);
    s += "\xF7";
    s += std::string(2, '\0');
    for (int i = 0; i < 256; ++i) s += std::string(3, char(i));
    s += ',';  // the image descriptor
    s += le16(0) + le16(0) + le16(p.width) + le16(p.height) + std::string(1, '\0');
    s += char(8);
    std::string codes;
    std::uint32_t bits = 0;
    int held = 0;
    encode([&](int code, int size) {
        bits |= std::uint32_t(code) << held;
        for (held += size; held >= 8; held -= 8, bits >>= 8) codes += char(bits & 255);
    });
    if (held > 0) codes += char(bits & 255);
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.size() - at);
        s += char(n);
        s += codes.substr(at, n);
    }
    return s + std::string(1, '\0') + ";";
}

}  // namespace

std::string gif_of(const Picture &p) {
    // LZW codes stay at 9 bits: every code is a literal, and a clear code comes before the table
    // would need a 10th bit.
    return grey_gif(p, [&](const std::function<void(int, int)> &put) {
        for (std::size_t i = 0; i < p.rgba.size() / 4; ++i) {
            if (i % 250 == 0) put(256, 9);
            put(p.rgba[i * 4], 9);
        }
        put(257, 9);
    });
}

std::string lzw_gif_of(const Picture &p) {
    return grey_gif(p, [&](const std::function<void(int, int)> &put) {
        std::unordered_map<std::uint32_t, int> table;  // (prefix code << 8 | byte) -> code
        int size = 9, last = 257, prefix = -1;
        put(256, size);
        for (std::size_t i = 0; i < p.rgba.size() / 4; ++i) {
            const int byte = p.rgba[i * 4];
            if (prefix < 0) {
                prefix = byte;
                continue;
            }
            const std::uint32_t key = std::uint32_t(prefix) << 8 | std::uint32_t(byte);
            if (const auto found = table.find(key); found != table.end()) {
                prefix = found->second;
                continue;
            }
            put(prefix, size);
            table[key] = ++last;
            if (last >= (1 << size)) ++size;
            if (last == 4095) {  // the table is full: start again
                put(256, size);
                table.clear();
                size = 9;
                last = 257;
            }
            prefix = byte;
        }
        put(prefix, size);
        put(257, size);
    });
}

std::string flat_hdr_of(const Picture &p) {
    std::string s = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(p.height) +
                    " +X " + std::to_string(p.width) + "\n";
    for (std::size_t i = 0; i < p.rgba.size(); i += 4)
        s += std::string{char(p.rgba[i] | 1), char(p.rgba[i + 1]), char(p.rgba[i + 2]), char(128)};
    return s;
}

}  // namespace kelvane_test

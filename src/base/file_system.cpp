// What every platform shares: names of temporary files and the UTF-8 test of a path.
#include "base/file_system.hpp"

#include <chrono>
#include <cstring>

namespace kelvane::fs {

text join(const char *a, const char *b, std::size_t b_size) noexcept {
    const std::size_t a_size = std::strlen(a);
    text joined(static_cast<char *>(std::malloc(a_size + b_size + 1)));
    if (!joined) return joined;
    std::memcpy(joined.get(), a, a_size);
    std::memcpy(joined.get() + a_size, b, b_size);
    joined[a_size + b_size] = '\0';
    return joined;
}

bool is_utf8_beyond_ascii(const char *path) noexcept {
    bool beyond_ascii = false;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path); *p;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        beyond_ascii = true;
        // The lead byte gives the length and the least code point of that length; the second
        // byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (*p >= 0xC2 && *p <= 0xDF)
            length = 2;
        else if (*p >= 0xE0 && *p <= 0xEF)
            length = 3, low = *p == 0xE0 ? 0xA0 : 0x80, high = *p == 0xED ? 0x9F : 0xBF;
        else if (*p >= 0xF0 && *p <= 0xF4)
            length = 4, low = *p == 0xF0 ? 0x90 : 0x80, high = *p == 0xF4 ? 0x8F : 0xBF;
        else
            return false;
        if (p[1] < low || p[1] > high) return false;
        for (int i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        p += length;
    }
    return beyond_ascii;
}

std::uint64_t unique_number() noexcept {
    static std::uint64_t counter = 0;
    std::uint64_t x = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    x ^= std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) << 17;
    x ^= process_number() << 32;
    x ^= reinterpret_cast<std::uintptr_t>(&counter) + ++counter * 0x9E3779B97F4A7C15u;
    // A 64-bit mix (splitmix64's finaliser), so that neighbouring inputs give unrelated names.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

}  // namespace kelvane::fs

// What a reader of the reading side hands back (stb, or the library's own readers).
#pragma once

#include "base/image.hpp"

namespace kelvane {

// RGBA pixels, or a null buffer and the reason in stb's words.
struct Decoded {
    pixel_buffer pixels;
    int width = 0, height = 0, channels = 0;
    const char *reason = nullptr;

    static Decoded refused(const char *why) noexcept {
        Decoded d;
        d.reason = why;
        return d;
    }
};

}  // namespace kelvane

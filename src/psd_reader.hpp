// A reader for the one kind of file whose decoding stb gets wrong in a way the library cannot
// repair afterwards: PSD composites with an alpha channel.
#pragma once

#include <cstdio>

#include "image.hpp"

namespace kelvane {

// What a reader hands back: RGBA pixels, or a null buffer and the reason in stb's words.
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

// Whether the file's first bytes announce a PSD with four or more channels (colour and alpha).
bool is_psd_with_alpha(const unsigned char *head, std::size_t size) noexcept;

// Decodes such a PSD from the start of `file` exactly as stb does, but for its removal of the
// white matte that it assumes semi-transparent colours were blended with: where the composite
// was not matted, stb's un-matted value falls below 0 and its conversion to a byte is undefined;
// here it is held at 0.
Decoded read_psd_with_alpha(std::FILE *file) noexcept;

}  // namespace kelvane

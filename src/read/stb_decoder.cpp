// The translation unit that compiles stb_image, in its default configuration but for its memory
// hooks: its blocks come zero-filled, so that a file which leaves pixels unset decodes to zeros
// rather than to whatever the heap held; with its local arrays zero-filled too (CMakeLists.txt),
// palette indices past a BMP's or PNG's palette read zeros rather than stack contents.
// Built without warnings, with signed overflow defined (CMakeLists.txt).
#include "read/stb_decoder.hpp"

#include <cstdlib>

#include "base/large_memory.hpp"

#define STBI_MALLOC(size) kelvane::large_calloc(1, size)
#define STBI_REALLOC(block, size) kelvane::large_realloc(block, size)
#define STBI_FREE(block) std::free(block)

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace kelvane {

StbFormat stb_format(const std::uint8_t *head, std::size_t size) noexcept {
    if (size > stb_format_head) size = stb_format_head;
    stbi__context s;
    stbi__start_mem(&s, head, int(size));
    // stbi__load_main's order. Its JPEG test allocates a decoder only to read the start marker
    // (after any 0xFF fill bytes): that is done here without allocating.
    StbFormat format = StbFormat::unknown;
    std::size_t fill = 0;
    while (fill < size && head[fill] == 0xFF) ++fill;
    if (stbi__png_test(&s))
        format = StbFormat::png;
    else if (stbi__bmp_test(&s))
        format = StbFormat::bmp;
    else if (stbi__gif_test(&s))
        format = StbFormat::gif;
    else if (stbi__psd_test(&s))
        format = StbFormat::psd;
    else if (stbi__pic_test(&s))
        format = StbFormat::pic;
    else if (fill > 0 && fill < size && head[fill] == 0xD8)
        format = StbFormat::jpeg;
    else if (stbi__pnm_test(&s))
        format = StbFormat::pnm;
    else if (stbi__hdr_test(&s))
        format = StbFormat::hdr;
    else if (stbi__tga_test(&s))
        format = StbFormat::tga;
    clear_decoder_reason();  // the tests leave reasons of their own
    return format;
}

void clear_decoder_reason() noexcept { stbi__g_failure_reason = nullptr; }

}  // namespace kelvane

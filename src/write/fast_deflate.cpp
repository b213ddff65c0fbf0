// The opt-in fast PNG build (KELVANE_FAST_PNG): stb_image_write still writes every PNG, but
// hands its zlib stream to libdeflate through stb's hook for a custom compressor. The files
// differ in their compressed bytes only; they decode to the same pixels.
#include <libdeflate.h>

#include <cstdint>

#include "write/writer_memory.hpp"

namespace kelvane {

// libdeflate's fastest level: on photographs it writes smaller files than stb's own compressor
// or zlib's default level, in a fraction of the time of its own default level, which saves little
// more (docs/performance.md).
constexpr int fast_png_level = 1;

// stb's hook: the zlib stream of `data` in a buffer from compressor_buffer that stb frees, or NULL.
unsigned char *fast_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                  int /*quality*/) {
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(fast_png_level);
    if (!compressor) return nullptr;
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor, std::size_t(data_len));
    auto *out = static_cast<unsigned char *>(compressor_buffer(bound));
    const std::size_t size =
        out ? libdeflate_zlib_compress(compressor, data, std::size_t(data_len), out, bound) : 0;
    libdeflate_free_compressor(compressor);
    if (size == 0 || size > std::size_t(INT32_MAX)) {
        writer_free(out);
        return nullptr;
    }
    *out_len = int(size);
    return out;
}

}  // namespace kelvane

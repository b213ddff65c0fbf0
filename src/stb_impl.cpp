// The one translation unit that compiles stb's decoder and encoder, in their default
// configuration but for their memory hooks and, in the fast PNG build, the encoder's compressor:
// - the decoder's blocks come zero-filled, so that a file which leaves pixels unset (a truncated
//   PNM, say) decodes to zeros rather than to whatever the heap held; with its local arrays
//   zero-filled too (CMakeLists.txt), palette indices past a BMP's or PNG's palette read zeros
//   rather than stack contents;
// - the encoder's memory comes from writer_memory, so that a refusal abandons the write instead
//   of writing through a bad pointer.
// Built with -fwrapv (and C++20 shift rules) and without warnings: see CMakeLists.txt.
#include <cstdlib>

#include "writer_memory.hpp"

#define STBI_MALLOC(size) std::calloc(1, size)
#define STBI_REALLOC(block, size) std::realloc(block, size)
#define STBI_FREE(block) std::free(block)

#define STBIW_MALLOC(size) kelvane::writer_malloc(size)
#define STBIW_REALLOC(block, size) kelvane::writer_realloc(block, size)
#define STBIW_FREE(block) kelvane::writer_free(block)

#ifdef KELVANE_FAST_PNG
namespace kelvane {
unsigned char *fast_zlib_compress(unsigned char *data, int data_len, int *out_len, int quality);
}
#define STBIW_ZLIB_COMPRESS kelvane::fast_zlib_compress
#endif

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>

namespace kelvane {

// The decoder keeps its last failure reason until the next failure, and a few of its paths fail
// without giving one: cleared before each decoding, such a failure reads as no reason rather than
// an old one.
void clear_decoder_reason() noexcept { stbi__g_failure_reason = nullptr; }

}  // namespace kelvane

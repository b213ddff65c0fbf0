// The one translation unit that compiles stb's decoder and encoder, in their default
// configuration (but for the fast PNG build's compressor). Built with -fwrapv (and C++20 shift
// rules) and without warnings: see CMakeLists.txt.
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

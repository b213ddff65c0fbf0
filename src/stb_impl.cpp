// The one translation unit that compiles stb's decoder and encoder, in their default
// configuration. Built with -fwrapv (and C++20 shift rules) and without warnings: see
// CMakeLists.txt.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>

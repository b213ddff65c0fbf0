// Files to pictures: the reading side. The input is read once, into memory (input_file); stb's
// own format tests say how it will be decoded (stb_decoder); the checks refuse what stb would
// mishandle and what claims more than the file holds (input_checks); the library's own readers
// take the two kinds of file that stb decodes wrongly (16-bit PNM, PSD with alpha); stb decodes
// the rest from the same bytes.
#pragma once

#include "base/image.hpp"

namespace kelvane {

constexpr int max_input_side = 32768;

// Decodes the file at `path` into 8-bit RGBA. 1 on success; 0 with the message set and `image`
// all zero (it then owns nothing).
int load_image(const char *path, Image &image) noexcept;

}  // namespace kelvane

// A walk over a JPEG's marker segments, looking for the one defect of the decoder's (stb_image
// 2.27) that corrupts its memory before it can notice: a Huffman table (DHT) declaring more than
// 256 codes, which it copies into an array of 257 entries without counting.
#pragma once

#include <cstdio>

namespace kelvane {

// Whether the file's first bytes may announce a JPEG.
bool is_jpeg(const unsigned char *head, std::size_t size) noexcept;

// False when some Huffman table of the JPEG at the start of `file` declares more than 256 codes
// (no valid JPEG does). Leaves `file` at an unspecified position.
bool jpeg_huffman_tables_fit(std::FILE *file) noexcept;

}  // namespace kelvane

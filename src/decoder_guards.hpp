// Walks over a file's structure, for the few defects of the decoder (stb_image 2.27) that no
// check after decoding can undo: files are refused before the decoder sees them.
#pragma once

#include <cstdio>

namespace kelvane {

// JPEG: the decoder copies a Huffman table (DHT) of more than 256 codes into an array of 257
// entries without counting.

// Whether the file's first bytes may announce a JPEG.
bool is_jpeg(const unsigned char *head, std::size_t size) noexcept;

// False when some Huffman table of the JPEG at the start of `file` declares more than 256 codes
// (no valid JPEG does). Leaves `file` at an unspecified position.
bool jpeg_huffman_tables_fit(std::FILE *file) noexcept;

// Whether the file's first bytes announce a PNG.
bool is_png(const unsigned char *head, std::size_t size) noexcept;

// False when an IDAT chunk of the PNG at the start of `file` claims more bytes than the file
// holds after it: the decoder would first grow its buffer to that size (up to 2 GiB for a file
// of a few bytes) and then fail for want of data. Leaves `file` at an unspecified position.
bool png_data_within_file(std::FILE *file) noexcept;

// Whether the file's first bytes announce a Radiance HDR picture.
bool is_hdr(const unsigned char *head, std::size_t size) noexcept;

// False when a run-length coded scanline of the HDR at the start of `file` holds a run of
// length 0 (or ends with the file inside a run, which the decoder reads as zeros): the decoder
// would loop on it for ever. Leaves `file` at an unspecified position.
bool hdr_runs_end(std::FILE *file) noexcept;

}  // namespace kelvane

// The two expensive parts of stb_image_write's PNG encoder, handed to it through its own hooks
// (STBIW_ZLIB_COMPRESS, STBIW_CRC32): the same bytes, several times faster.
#pragma once

namespace kelvane {

// stb's zlib stream of `data`, byte for byte: its parse (a 3-byte hash into 16384 buckets of at
// most 2 * quality positions, trimmed to the newest `quality` when full; a 32 KiB window; the
// newest of the longest matches; its lazy-match rule), its fixed Huffman codes, its fallback to
// stored blocks and its Adler-32. The buffer comes from writer_malloc, for stb to free; null when
// the heap refuses. Qualities above what the fast parse handles go to stb's own compressor.
unsigned char *png_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                 int quality) noexcept;

// The CRC-32 of PNG chunks (the zlib polynomial), eight bytes a step.
unsigned int png_crc32(unsigned char *buffer, int len) noexcept;

// stb_image_write's own compressor, compiled without the hook (src/stb_zlib_stock.cpp).
unsigned char *stock_zlib_compress(unsigned char *data, int data_len, int *out_len,
                                   int quality) noexcept;

}  // namespace kelvane

// Memory for stb's encoders. The PNG encoder grows its deflate buffers without checking that
// the heap agreed: on failure it would write through a null or stale pointer. Its allocations
// go through these functions instead, which remember every block, so that a refusal can abandon
// the write and release all it held.
#pragma once

#include <cstddef>

#include "base/image.hpp"

namespace kelvane {

void *writer_malloc(std::size_t size) noexcept;
void *writer_realloc(void *block, std::size_t size) noexcept;  // leaves the write on failure
void writer_free(void *block) noexcept;

// The picture's pixel buffer, lent to the PNG write that follows for the compressed stream: stb's
// encoder has filtered every row before it compresses, and the buffer's pages are in memory
// already, where a fresh buffer's pages cost a fault each and the kernel's zeroing. The buffer
// stays the picture's (it may move and grow); its pixels are lost.
class PixelLoan {
  public:
    explicit PixelLoan(pixel_buffer &pixels) noexcept;
    ~PixelLoan();
    PixelLoan(const PixelLoan &) = delete;
    PixelLoan &operator=(const PixelLoan &) = delete;
};

// A buffer of `size` bytes for the compressed stream, which stb frees with writer_free: the lent
// pixel buffer, grown, while there is one, else writer memory; null when the heap refuses.
void *compressor_buffer(std::size_t size) noexcept;

// Runs write(context), one call of a stb writer: its result, or 0 when the heap refused the
// writer something midway, in which case every block it held has been released.
int guarded_write(int (*write)(void *context), void *context) noexcept;

}  // namespace kelvane

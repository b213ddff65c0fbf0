// Memory for stb's encoders. The PNG encoder grows its deflate buffers without checking that
// the heap agreed: on failure it would write through a null or stale pointer. Its allocations
// go through these functions instead, which remember every block, so that a refusal can abandon
// the write and release all it held.
#pragma once

#include <cstddef>

namespace kelvane {

void *writer_malloc(std::size_t size) noexcept;
void *writer_realloc(void *block, std::size_t size) noexcept;  // leaves the write on failure
void writer_free(void *block) noexcept;

// Runs write(context), one call of a stb writer: its result, or 0 when the heap refused the
// writer something midway, in which case every block it held has been released.
int guarded_write(int (*write)(void *context), void *context) noexcept;

}  // namespace kelvane

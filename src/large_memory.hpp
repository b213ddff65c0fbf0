// The heap, for the library's large buffers (pictures, files in memory, the encoder's buffers):
// malloc, calloc and realloc as ever, their blocks released with free, but a block of several
// megabytes is marked for the kernel to back with large pages where it can (Linux's transparent
// huge pages in their "madvise" mode). A job touches each such buffer whole, once: one fault per
// 2 MiB instead of one per 4 KiB takes about a third off a 1920x1080 PNG job where faults are
// dear (bench/, README).
#pragma once

#include <cstddef>

namespace kelvane {

void *large_malloc(std::size_t size) noexcept;
void *large_calloc(std::size_t count, std::size_t size) noexcept;
void *large_realloc(void *block, std::size_t size) noexcept;

}  // namespace kelvane

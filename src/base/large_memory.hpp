// The heap, for the library's large buffers (pictures, files in memory, the encoder's buffers):
// malloc, calloc and realloc as ever, their blocks released with free, but a block of several
// megabytes is marked for the kernel to back with large pages where it can (Linux's transparent
// huge pages in their "madvise" mode). A job touches each such buffer whole, once: one fault per
// 2 MiB instead of one per 4 KiB, which pays where faults are dear (docs/performance.md has the
// figures and bench/run.sh reproduces them). Every block the library owns goes back to free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kelvane {

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

void *large_malloc(std::size_t size) noexcept;
void *large_calloc(std::size_t count, std::size_t size) noexcept;
void *large_realloc(void *block, std::size_t size) noexcept;

// `count` items of T, uninitialised; empty when the size has no size_t value or the heap refuses.
template <class T>
std::unique_ptr<T[], free_deleter> alloc_array(std::uint64_t count) noexcept {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[], free_deleter>(
        static_cast<T *>(large_malloc(std::size_t(count) * sizeof(T))));
}

}  // namespace kelvane

#include "base/large_memory.hpp"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kelvane {
namespace {

constexpr std::size_t large_page = std::size_t(1) << 21, small_page = 4096;
// A block this large holds at least one whole large page, however it is aligned.
constexpr std::size_t advised_from = 2 * large_page;

// Advice only: a kernel without large pages is left as it is, and nothing about the block
// changes but how its pages are supplied. The advice covers the block's whole pages: advice on
// a part would split the mapping that malloc made for it, which realloc could then no longer
// move in one piece (it would copy the block, doubling the memory the job needs).
void advise(void *block, std::size_t size) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!block || size < advised_from) return;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block) & ~(small_page - 1);
    const std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(block) + size + small_page - 1) & ~(small_page - 1);
    madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    (void)block, (void)size;
#endif
}

}  // namespace

void *large_malloc(std::size_t size) noexcept {
    void *block = std::malloc(size);
    advise(block, size);
    return block;
}

void *large_calloc(std::size_t count, std::size_t size) noexcept {
    void *block = std::calloc(count, size);
    if (count != 0 && size <= SIZE_MAX / count) advise(block, count * size);
    return block;
}

void *large_realloc(void *block, std::size_t size) noexcept {
    void *grown = std::realloc(block, size);
    advise(grown, size);
    return grown;
}

}  // namespace kelvane

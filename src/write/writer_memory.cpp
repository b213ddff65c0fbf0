#include "write/writer_memory.hpp"

#include <csetjmp>
#include <cstdint>
#include <cstdlib>

#include "base/large_memory.hpp"

namespace kelvane {
namespace {

// Each block starts with its links in a ring of the blocks the current write holds; the header
// keeps the caller's memory aligned as malloc's.
struct alignas(std::max_align_t) Header {
    Header *prev, *next;
};

thread_local Header held{&held, &held};
thread_local std::jmp_buf *abandon = nullptr;

void link(Header *h) noexcept {
    h->prev = &held;
    h->next = held.next;
    held.next->prev = h;
    held.next = h;
}

void unlink(Header *h) noexcept {
    h->prev->next = h->next;
    h->next->prev = h->prev;
}

bool too_large(std::size_t size) noexcept { return size > SIZE_MAX - sizeof(Header); }

void release_held() noexcept {
    while (held.next != &held) {
        Header *h = held.next;
        unlink(h);
        std::free(h);
    }
}

}  // namespace

void *writer_malloc(std::size_t size) noexcept {
    auto *h =
        too_large(size) ? nullptr : static_cast<Header *>(large_malloc(sizeof(Header) + size));
    if (!h) return nullptr;  // stb checks these
    link(h);
    return h + 1;
}

void *writer_realloc(void *block, std::size_t size) noexcept {
    if (!block) {
        void *fresh = writer_malloc(size);
        if (!fresh && abandon) std::longjmp(*abandon, 1);
        return fresh;
    }
    Header *h = static_cast<Header *>(block) - 1;
    unlink(h);
    auto *grown =
        too_large(size) ? nullptr : static_cast<Header *>(large_realloc(h, sizeof(Header) + size));
    link(grown ? grown : h);
    if (!grown && abandon) std::longjmp(*abandon, 1);
    return grown ? grown + 1 : nullptr;
}

void writer_free(void *block) noexcept {
    if (!block) return;
    Header *h = static_cast<Header *>(block) - 1;
    unlink(h);
    std::free(h);
}

int guarded_write(int (*write)(void *context), void *context) noexcept {
    std::jmp_buf here;
    abandon = &here;
    int written = 0;
    if (setjmp(here) == 0) {
        written = write(context);
    } else {
        release_held();  // the writer was abandoned while growing a buffer
    }
    abandon = nullptr;
    return written;
}

}  // namespace kelvane

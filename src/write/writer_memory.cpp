#include "write/writer_memory.hpp"

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "base/large_memory.hpp"

namespace kelvane {
namespace {

// Each block starts with its links in a ring of the blocks the current write holds and its
// size; the header keeps the caller's memory aligned as malloc's.
struct alignas(std::max_align_t) Header {
    Header *prev, *next;
    std::size_t size;
};

thread_local Header held{&held, &held, 0};
thread_local std::jmp_buf *abandon = nullptr;  // set while a write runs

// The largest block of at least `reused_from` bytes that the running write freed, kept for its
// next request of that order: stb frees the PNG's filtered rows just before it asks for the
// file's buffer, which then lands in memory whose pages are already there (a fresh page costs
// a fault and the kernel's zeroing).
constexpr std::size_t reused_from = std::size_t(1) << 20;
thread_local Header *spare = nullptr;

thread_local pixel_buffer *loan = nullptr;

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
    Header *h = nullptr;
    if (spare && size >= reused_from && size <= spare->size) {
        h = spare;
        spare = nullptr;
    } else if (!too_large(size)) {
        h = static_cast<Header *>(large_malloc(sizeof(Header) + size));
        if (h) h->size = size;
    }
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
    if (grown) grown->size = size;
    link(grown ? grown : h);
    if (!grown && abandon) std::longjmp(*abandon, 1);
    return grown ? grown + 1 : nullptr;
}

void writer_free(void *block) noexcept {
    if (!block || (loan && block == loan->get())) return;  // the picture frees its own
    Header *h = static_cast<Header *>(block) - 1;
    unlink(h);
    if (abandon && h->size >= reused_from) {
        if (spare && spare->size > h->size) std::swap(spare, h);
        std::free(spare);
        spare = h;
        return;
    }
    std::free(h);
}

PixelLoan::PixelLoan(pixel_buffer &pixels) noexcept { loan = &pixels; }

PixelLoan::~PixelLoan() { loan = nullptr; }

void *compressor_buffer(std::size_t size) noexcept {
    if (!loan || !*loan) return writer_malloc(size);
    void *grown = large_realloc(loan->get(), size);
    if (!grown) return nullptr;  // the picture keeps its buffer
    (void)loan->release();
    loan->reset(static_cast<std::uint8_t *>(grown));
    return grown;
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
    std::free(spare);
    spare = nullptr;
    return written;
}

}  // namespace kelvane

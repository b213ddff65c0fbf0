// A stack of the library's own for the decoder. stb's GIF decoder recurses once for each code of
// an LZW chain, up to about 4,000 calls deep: a one-colour area, as any encoder writes it, builds
// the longest chains, and on a thread of 64 KiB (a common pool size) that overflows the stack.
// The decoder therefore runs on a stack that the library maps for the call, on the caller's own
// thread (ucontext on POSIX, a fiber on Windows): no thread is started, and the stack's pages are
// supplied only as they are touched.
#pragma once

#include <cstddef>

namespace kelvane {

// Several times what the deepest chain takes.
constexpr std::size_t own_stack_size = std::size_t(2) << 20;

// Runs call(context) on a stack of `own_stack_size` bytes; on the caller's stack where the
// system gives no memory for one, and in AddressSanitizer's builds.
void run_on_own_stack(void (*call)(void *context), void *context) noexcept;

}  // namespace kelvane

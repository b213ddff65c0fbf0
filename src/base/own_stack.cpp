#include "base/own_stack.hpp"

#if defined(_WIN32)
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // IsThreadAFiber
#endif
#include <windows.h>
#elif !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>
#endif

// AddressSanitizer warns on every process's first swapcontext: its builds decode on the caller's
// stack, whose threads its users size for its larger frames anyway. valgrind learns of the stack.
#if defined(__SANITIZE_ADDRESS__)
#define KELVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVANE_ASAN 1
#endif
#endif
#ifndef KELVANE_ASAN
#define KELVANE_ASAN 0
#endif
#if !defined(_WIN32) && defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#endif
#ifndef VALGRIND_STACK_REGISTER
#define VALGRIND_STACK_REGISTER(start, end) 0
#define VALGRIND_STACK_DEREGISTER(id) ((void)(id))
#endif

namespace kelvane {
namespace {

struct Call {
    void (*call)(void *);
    void *context;
#if defined(_WIN32)
    void *caller;
#elif !defined(__EMSCRIPTEN__)
    ucontext_t caller, callee;
#endif
};

}  // namespace

#if defined(__EMSCRIPTEN__)

// WebAssembly has no stack switching here: the module's own stack, which its link sizes, serves.
void run_on_own_stack(void (*call)(void *context), void *context) noexcept { call(context); }

#elif defined(_WIN32)

namespace {

void CALLBACK fiber_main(void *p) {
    Call &c = *static_cast<Call *>(p);
    c.call(c.context);
    SwitchToFiber(c.caller);
}

}  // namespace

// The fiber running now. GCC takes the inline read of the thread block for an array access.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
static void *current_fiber() noexcept { return GetCurrentFiber(); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void run_on_own_stack(void (*call)(void *context), void *context) noexcept {
    Call c{call, context, nullptr};
    const bool was_fiber = IsThreadAFiber() != FALSE;
    c.caller = was_fiber ? current_fiber() : ConvertThreadToFiber(nullptr);
    void *fiber =
        c.caller ? CreateFiberEx(1 << 16, own_stack_size, FIBER_FLAG_FLOAT_SWITCH, fiber_main, &c)
                 : nullptr;
    if (fiber) {
        SwitchToFiber(fiber);
        DeleteFiber(fiber);
    }
    if (c.caller && !was_fiber) ConvertFiberToThread();
    if (!fiber) call(context);
}

#else

namespace {

// makecontext passes only ints: the call in progress is found here instead.
thread_local Call *current = nullptr;

void callee_main() {
    Call &c = *current;
    c.call(c.context);
}  // returns to c.caller (uc_link)

}  // namespace

void run_on_own_stack(void (*call)(void *context), void *context) noexcept {
    if (KELVANE_ASAN) return call(context);
    const std::size_t guard = std::size_t(sysconf(_SC_PAGESIZE));
    void *block = mmap(nullptr, guard + own_stack_size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    // The lowest page stays unmapped, so that an overflow faults instead of writing elsewhere.
    if (block != MAP_FAILED && mprotect(block, guard, PROT_NONE) != 0) {
        munmap(block, guard + own_stack_size);
        block = MAP_FAILED;
    }
    Call c{call, context, {}, {}};
    if (block == MAP_FAILED || getcontext(&c.callee) != 0) {
        if (block != MAP_FAILED) munmap(block, guard + own_stack_size);
        call(context);
        return;
    }
    char *bottom = static_cast<char *>(block) + guard;
    c.callee.uc_stack.ss_sp = bottom;
    c.callee.uc_stack.ss_size = own_stack_size;
    c.callee.uc_link = &c.caller;
    makecontext(&c.callee, callee_main, 0);
    Call *outer = current;
    current = &c;
    const unsigned registered = VALGRIND_STACK_REGISTER(bottom, bottom + own_stack_size);
    swapcontext(&c.caller, &c.callee);
    VALGRIND_STACK_DEREGISTER(registered);
    current = outer;
    munmap(block, guard + own_stack_size);
}

#endif

}  // namespace kelvane

#include "base/message.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kelvane {
namespace {

char s_err[message_capacity];  // zero-filled at load, so it starts empty

KELVANE_PRINTF(1, 0) void set_err_v(const char *fmt, std::va_list args) noexcept {
    // Format into a copy first: an argument may point into s_err itself.
    char text[message_capacity];
    if (std::vsnprintf(text, sizeof text, fmt, args) < 0) text[0] = '\0';
    std::memcpy(s_err, text, std::strlen(text) + 1);
}

}  // namespace

const char *message_text() noexcept { return s_err; }

void clear_err() noexcept { s_err[0] = '\0'; }

const char *set_err(const char *fmt, ...) noexcept {
    std::va_list args;
    va_start(args, fmt);
    set_err_v(fmt, args);
    va_end(args);
    return s_err;
}

int fail(const char *fmt, ...) noexcept {
    std::va_list args;
    va_start(args, fmt);
    set_err_v(fmt, args);
    va_end(args);
    return 0;
}

}  // namespace kelvane

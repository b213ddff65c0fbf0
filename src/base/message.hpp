// The process-wide message text: the one place a failure is reported.
#pragma once

#if defined(__GNUC__)
#define KELVANE_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define KELVANE_PRINTF(fmt_index, first_arg)
#endif

namespace kelvane {

constexpr int message_capacity = 512;  // 511 characters and the NUL

// The current message text; "" when nothing has failed since it was last cleared.
const char *message_text() noexcept;

void clear_err() noexcept;

// Formats like printf into the message text, cut at 511 characters. An argument may be the
// message text itself: it stands for the text as it was before this call.
const char *set_err(const char *fmt, ...) noexcept KELVANE_PRINTF(1, 2);

// set_err, then the failure result 0, so that a check reads `return fail("...", value);`.
int fail(const char *fmt, ...) noexcept KELVANE_PRINTF(1, 2);

}  // namespace kelvane

// The process-wide message text: the one place a failure is reported, and how failures travel
// to it. The convention, for every file of the library:
// - The exported functions and the steps they call directly (load_image, save_image, the effects'
//   canvas builders) return an int, 1 or 0. Whoever detects a failure writes the message (through
//   fail or set_err) and returns 0; its callers return 0 without writing another, so a precise
//   message is never replaced by a vaguer one. The one exception is the save step's wrapping in
//   "failed to write '%s': %s".
// - Everything beneath them is silent: it returns false, an empty buffer, or a verdict, and the
//   step that called it writes the message.
// - A check of the input returns a Verdict: pass, or refuse with a reason in the decoder's words
//   (which the reading step puts into "cannot decode '%s': %s").
// - Two mechanisms stay inside their files: the input's sticky read failure (InputFile::failure,
//   read once by the reading step) and the encoder's abandonment of a write whose memory ran out
//   (writer_memory's longjmp, which ends as a false from guarded_write).
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

// What a check of the input decides: the file may go on to the decoder, or it is refused with a
// reason in the decoder's words; a refusal without one (as stb sometimes gives none) reads "".
class Verdict {
  public:
    static constexpr Verdict pass() noexcept { return Verdict(nullptr); }
    static constexpr Verdict refuse(const char *reason) noexcept { return Verdict(reason); }
    static constexpr Verdict refuse_without_reason() noexcept { return Verdict(""); }
    // Pass when the file holds the data it claims, else refuse it as "truncated".
    static constexpr Verdict held(bool holds) noexcept {
        return holds ? pass() : refuse("truncated");
    }

    constexpr bool refused() const noexcept { return reason_ != nullptr; }
    constexpr const char *reason() const noexcept { return reason_ ? reason_ : ""; }

  private:
    constexpr explicit Verdict(const char *reason) noexcept : reason_(reason) {}
    const char *reason_;
};

}  // namespace kelvane

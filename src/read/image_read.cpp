#include "read/image_read.hpp"

#include <stb_image.h>

#include <cstring>

#include "base/message.hpp"
#include "base/own_stack.hpp"
#include "read/decoded.hpp"
#include "read/input_checks.hpp"
#include "read/input_file.hpp"
#include "read/psd_reader.hpp"
#include "read/stb_decoder.hpp"

namespace kelvane {
namespace {

// stb's reading callbacks over the input in memory, behaving as its own callbacks over a FILE
// do, so that every file decodes as it did when stb read it with stdio: a read that comes up
// short marks the end (feof), and a skip clears the mark unless it lands at or past the end.
class StbStream {
  public:
    explicit StbStream(InputFile &file) noexcept : file_(file) {}

    static const stbi_io_callbacks callbacks;

  private:
    static int read(void *user, char *data, int size) noexcept {
        StbStream &s = *static_cast<StbStream *>(user);
        const std::uint64_t available = s.file_.fetch(s.at_ + std::uint64_t(size));
        const std::uint64_t n = available > s.at_ ? available - s.at_ : 0;
        if (n > 0) std::memcpy(data, s.file_.data() + s.at_, std::size_t(n));
        s.at_ += n;
        s.ended_ = n < std::uint64_t(size);
        return int(n);
    }
    static void skip(void *user, int n) noexcept {
        StbStream &s = *static_cast<StbStream *>(user);
        if (n > 0) s.at_ += std::uint64_t(n);
        s.ended_ = !s.file_.holds(s.at_, 1);
    }
    static int eof(void *user) noexcept { return static_cast<StbStream *>(user)->ended_; }

    InputFile &file_;
    std::uint64_t at_ = 0;
    bool ended_ = false;
};

const stbi_io_callbacks StbStream::callbacks = {StbStream::read, StbStream::skip, StbStream::eof};

Decoded decode_with_stb(InputFile &file) noexcept {
    Decoded d;
    StbStream stream(file);
    d.pixels.reset(stbi_load_from_callbacks(&StbStream::callbacks, &stream, &d.width, &d.height,
                                            &d.channels, 4));
    if (!d.pixels) d.reason = stbi_failure_reason();
    return d;
}

// stb decodes 16-bit PGM and PPM into 8 bits through a conversion that reads past the end of its
// buffer. Asked for the file's own channels at 16 bits it reads them correctly (as the file's
// big-endian bytes); each sample's 8-bit value is its high byte, as stb later fixed it to be.
Decoded decode_16bit_pnm(InputFile &file) noexcept {
    Decoded d;
    StbStream stream(file);
    const std::unique_ptr<stbi_us[], free_deleter> samples(stbi_load_16_from_callbacks(
        &StbStream::callbacks, &stream, &d.width, &d.height, &d.channels, 0));
    if (!samples) return Decoded::refused(stbi_failure_reason());
    d.pixels = alloc_pixels(d.width, d.height, 4);
    if (!d.pixels) return Decoded::refused("outofmem");
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(samples.get());
    const std::size_t count = std::size_t(pixel_count(d.width, d.height));
    const bool grey = d.channels == 1;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t *px = d.pixels.get() + i * 4;
        for (int c = 0; c < 3; ++c) px[c] = bytes[(grey ? i : i * 3 + std::size_t(c)) * 2];
        px[3] = 255;
    }
    return d;
}

bool is_16bit_pnm(InputFile &file) noexcept {
    StbStream stream(file);
    return stbi_is_16_bit_from_callbacks(&StbStream::callbacks, &stream) != 0;
}

// Identifies the file as stb will, checks it, and decodes it: with stb, or with the library's own
// reader for the kinds of file that stb decodes wrongly.
Decoded decode(InputFile &file) noexcept {
    clear_decoder_reason();
    const std::uint64_t head = file.fetch(stb_format_head);
    const StbFormat format = stb_format(file.data(), std::size_t(head));
    if (const Verdict verdict = input_refusal(format, file); verdict.refused())
        return Decoded::refused(verdict.reason());
    if (format == StbFormat::pnm && is_16bit_pnm(file)) return decode_16bit_pnm(file);
    if (format == StbFormat::psd && is_psd_with_alpha(file.data(), std::size_t(head)))
        return read_psd_with_alpha(file);
    return decode_with_stb(file);
}

// decode(), on the library's own stack (own_stack.hpp).
Decoded decode_on_own_stack(InputFile &file) noexcept {
    struct Job {
        InputFile &file;
        Decoded decoded;
    } job{file, {}};
    run_on_own_stack(
        [](void *j) { static_cast<Job *>(j)->decoded = decode(static_cast<Job *>(j)->file); },
        &job);
    return std::move(job.decoded);
}

}  // namespace

int load_image(const char *path, Image &image) noexcept {
    image = Image{};
    InputFile file;
    Decoded decoded = file.open(path) ? decode_on_own_stack(file) : Decoded::refused("can't fopen");
    // A read that failed midway leaves a shorter file than the one on disk: whatever the decoder
    // made of it is not the picture.
    if (file.failure()) decoded = Decoded::refused(file.failure());
    if (!decoded.pixels) {
        const char *reason = decoded.reason;
        // An empty reason says no more than a missing one.
        if (!reason || !*reason) reason = "unknown error";
        return fail("cannot decode '%s': %s", path, reason);
    }
    const int w = decoded.width, h = decoded.height;
    if (w < 1 || h < 1) return fail("cannot decode '%s': %s", path, "no pixels");
    if (w > max_input_side || h > max_input_side) return fail("image too large: %dx%d", w, h);
    image.width = w;
    image.height = h;
    image.channels = decoded.channels;
    image.pixels = std::move(decoded.pixels);
    return 1;
}

}  // namespace kelvane

// The input file, read once: its bytes come into memory front to back, as far as its readers
// ask, and stay there. The checks and the decoder therefore see the very same bytes, however the
// file changes meanwhile; a pipe or a FIFO reads like a file; and a stream that never ends (or a
// huge file of which a decoder needs the first bytes only) costs only what is asked of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

// More than any picture the decoder accepts can need (a 16-bit PSD of 2^29 pixels needs 4 GiB).
constexpr std::uint64_t max_input_bytes = std::uint64_t(1) << 33;

class InputFile {
  public:
    InputFile() = default;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // False when the file cannot be opened (missing, unreadable, a folder).
    bool open(const char *path) noexcept;
    // Makes the file's bytes [0, end) available, as far as it holds them, and returns how many
    // are: fewer than `end` only at the end of the file (or of what could be read).
    std::uint64_t fetch(std::uint64_t end) noexcept;
    // Whether the file holds `count` bytes from `at` on (never beyond what is ever read).
    bool holds(std::uint64_t at, std::uint64_t count) noexcept {
        return count <= max_input_bytes && at <= max_input_bytes - count &&
               fetch(at + count) == at + count;
    }
    const std::uint8_t *data() const noexcept { return data_; }
    std::uint64_t size() const noexcept { return size_; }
    // Why the bytes read so far are not the whole file's, in the decoder's words ("can't fread",
    // "outofmem", "too large"); null while nothing went wrong.
    const char *failure() const noexcept { return failure_; }

  private:
    void close() noexcept;
    bool reserve(std::uint64_t capacity) noexcept;

    int fd_ = -1;
    std::uint8_t *data_ = nullptr;
    std::uint64_t size_ = 0, capacity_ = 0;
    bool ended_ = false;
    const char *failure_ = nullptr;
};

// A reading position in an input file. Past the end, bytes read as EOF (next) or as 0 (the
// others), the way the decoder reads them.
class InputBytes {
  public:
    explicit InputBytes(InputFile &file, std::uint64_t at = 0) noexcept : file_(file), at_(at) {}

    int next() noexcept {
        if (at_ >= file_.size() && file_.fetch(at_ + 1) <= at_) return -1;
        return file_.data()[at_++];
    }
    int next_or_zero() noexcept {
        const int byte = next();
        return byte < 0 ? 0 : byte;
    }
    unsigned be16() noexcept {
        const unsigned high = unsigned(next_or_zero());
        return high << 8 | unsigned(next_or_zero());
    }
    unsigned le16() noexcept {
        const unsigned low = unsigned(next_or_zero());
        return low | unsigned(next_or_zero()) << 8;
    }
    std::uint32_t be32() noexcept {
        const std::uint32_t high = be16();
        return high << 16 | be16();
    }
    std::uint32_t le32() noexcept {
        const std::uint32_t low = le16();
        return low | std::uint32_t(le16()) << 16;
    }
    void skip(std::uint64_t count) noexcept { at_ += count; }
    // Whether `count` more bytes follow.
    bool holds(std::uint64_t count) noexcept { return file_.holds(at_, count); }
    // Moves just past the next byte of value `byte`; false (at the end) when none follows.
    bool past_next(std::uint8_t byte) noexcept;
    std::uint64_t position() const noexcept { return at_; }
    bool at_end() noexcept { return !holds(1); }

  private:
    InputFile &file_;
    std::uint64_t at_;
};

}  // namespace kelvane

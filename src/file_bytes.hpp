// A file's bytes through a buffer, for the readers that walk a file's structure themselves.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace kelvane {

class FileBytes {
  public:
    explicit FileBytes(std::FILE *file) noexcept : file_(file) {}

    // The next byte, or EOF.
    int next() noexcept {
        if (next_ == end_ && !refill()) return EOF;
        return buffer_[next_++];
    }
    // The next byte, or 0 past the end, as stb's decoder reads it.
    int next_or_zero() noexcept {
        const int byte = next();
        return byte == EOF ? 0 : byte;
    }
    // Moves just past the next 0xFF byte; false when the file ends first.
    bool past_next_ff() noexcept {
        for (;;) {
            const void *ff = std::memchr(buffer_ + next_, 0xFF, end_ - next_);
            if (ff) {
                next_ = std::size_t(static_cast<const unsigned char *>(ff) - buffer_) + 1;
                return true;
            }
            if (!refill()) return false;
        }
    }
    void skip(long count) noexcept {
        const std::size_t buffered = end_ - next_;
        if (std::size_t(count) <= buffered) {
            next_ += std::size_t(count);
            return;
        }
        std::fseek(file_, count - long(buffered), SEEK_CUR);
        next_ = end_ = 0;
    }
    void skip_to_end() noexcept {
        std::fseek(file_, 0, SEEK_END);
        next_ = end_ = 0;
    }

  private:
    bool refill() noexcept {
        next_ = 0;
        end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        return end_ > 0;
    }

    std::FILE *file_;
    unsigned char buffer_[1 << 16];
    std::size_t next_ = 0, end_ = 0;
};

}  // namespace kelvane

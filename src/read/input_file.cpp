#include "read/input_file.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/file_system.hpp"
#include "base/large_memory.hpp"

namespace kelvane {
namespace {

// The first buffer of a file of unknown size (a pipe, say).
constexpr std::uint64_t min_read = 1 << 16;

}  // namespace

InputFile::~InputFile() {
    close();
    std::free(data_);
}

bool InputFile::open(const char *path) noexcept {
    fd_ = fs::open_for_reading(path);
    if (fd_ < 0) return false;
    // A regular file's size is known: one buffer of that size (and a byte to see that it did not
    // grow) saves copying it as it would grow. A file of absurd size (sparse, say) grows instead.
    // The buffer's pages are taken only as the reading reaches them.
    std::uint64_t size = 0;
    if (fs::regular_file_size(fd_, size) && size < max_input_bytes && !reserve(size + 1))
        failure_ = "outofmem";
    return true;
}

void InputFile::close() noexcept {
    if (fd_ >= 0) fs::close(fd_);
    fd_ = -1;
}

bool InputFile::reserve(std::uint64_t capacity) noexcept {
    if (capacity <= capacity_) return true;
    if (capacity > SIZE_MAX) return false;
    void *grown = large_realloc(data_, std::size_t(capacity));
    if (!grown) return false;
    data_ = static_cast<std::uint8_t *>(grown);
    capacity_ = capacity;
    return true;
}

std::uint64_t InputFile::fetch(std::uint64_t end) noexcept {
    while (size_ < end && !ended_ && !failure_ && fd_ >= 0) {
        // A full buffer doubles: what a file claims is never allocated before it is read.
        if (size_ == capacity_) {
            if (size_ >= max_input_bytes) {
                failure_ = "too large";
                break;
            }
            if (!reserve(std::min(std::max(capacity_ * 2, min_read), max_input_bytes))) {
                failure_ = "outofmem";
                break;
            }
        }
        // What is asked for, and at most as much again as is held: a file that the checks refuse
        // after its first bytes is not read further, and one read whole takes a few reads.
        const std::uint64_t step = std::max({end - size_, size_, min_read});
        const long long n =
            fs::read_some(fd_, data_ + size_, std::size_t(std::min(capacity_ - size_, step)));
        if (n < 0) failure_ = "can't fread";
        if (n <= 0) ended_ = true;
        if (n > 0) size_ += std::uint64_t(n);
    }
    return std::min(size_, end);
}

bool InputBytes::past_next(std::uint8_t byte) noexcept {
    for (;;) {
        if (!holds(1)) return false;
        const std::uint8_t *from = file_.data() + at_;
        const void *found = std::memchr(from, byte, std::size_t(file_.size() - at_));
        if (found) {
            at_ += std::uint64_t(static_cast<const std::uint8_t *>(found) - from) + 1;
            return true;
        }
        at_ = file_.size();
    }
}

}  // namespace kelvane

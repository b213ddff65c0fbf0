// The file calls on POSIX systems: plain descriptors, every call retried where a signal
// interrupted it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_system.hpp"
#include "base/retry.hpp"

namespace kelvane::fs {

namespace {

// One read or write moves at most 1 GiB: Linux moves about 2 GiB a call whatever is asked.
constexpr std::size_t max_transfer = std::size_t(1) << 30;

std::size_t transfer_size(std::size_t size) noexcept {
    return size > max_transfer ? max_transfer : size;
}

}  // namespace

int open_for_reading(const char *path) noexcept {
    const int fd = retry([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool regular_file_size(int fd, std::uint64_t &size) noexcept {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = std::uint64_t(st.st_size);
    return true;
}

long long read_some(int fd, void *buffer, std::size_t size) noexcept {
    return retry([&] { return ::read(fd, buffer, transfer_size(size)); });
}

bool write_all(int fd, const void *data, std::size_t size) noexcept {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = retry([&] { return ::write(fd, bytes, transfer_size(size)); });
        if (n <= 0) return false;
        bytes += n;
        size -= std::size_t(n);
    }
    return true;
}

bool close(int fd) noexcept {
    // After EINTR the descriptor is closed on Linux: closing it again could close another's.
    return ::close(fd) == 0 || errno == EINTR;
}

std::uint64_t process_number() noexcept { return std::uint64_t(getpid()); }

}  // namespace kelvane::fs

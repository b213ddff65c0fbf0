#include "base/file_system.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::fs {

namespace {

// One read or write moves at most 1 GiB: Linux moves about 2 GiB a call whatever is asked, and
// the C runtime's calls on Windows take an unsigned int.
constexpr std::size_t max_transfer = std::size_t(1) << 30;

std::size_t transfer_size(std::size_t size) noexcept {
    return size > max_transfer ? max_transfer : size;
}

}  // namespace

text join(const char *a, const char *b, std::size_t b_size) noexcept {
    const std::size_t a_size = std::strlen(a);
    text joined(static_cast<char *>(std::malloc(a_size + b_size + 1)));
    if (!joined) return joined;
    std::memcpy(joined.get(), a, a_size);
    std::memcpy(joined.get() + a_size, b, b_size);
    joined[a_size + b_size] = '\0';
    return joined;
}

bool is_utf8_beyond_ascii(const char *path) noexcept {
    bool beyond_ascii = false;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path); *p;) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        beyond_ascii = true;
        // The lead byte gives the length and the least code point of that length; the second
        // byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (*p >= 0xC2 && *p <= 0xDF)
            length = 2;
        else if (*p >= 0xE0 && *p <= 0xEF)
            length = 3, low = *p == 0xE0 ? 0xA0 : 0x80, high = *p == 0xED ? 0x9F : 0xBF;
        else if (*p >= 0xF0 && *p <= 0xF4)
            length = 4, low = *p == 0xF0 ? 0x90 : 0x80, high = *p == 0xF4 ? 0x8F : 0xBF;
        else
            return false;
        if (p[1] < low || p[1] > high) return false;
        for (int i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        p += length;
    }
    return beyond_ascii;
}

std::uint64_t unique_number() noexcept {
    static std::uint64_t counter = 0;
    std::uint64_t x = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    x ^= std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count()) << 17;
#if defined(_WIN32)
    x ^= std::uint64_t(GetCurrentProcessId()) << 32;
#else
    x ^= std::uint64_t(getpid()) << 32;
#endif
    x ^= reinterpret_cast<std::uintptr_t>(&counter) + ++counter * 0x9E3779B97F4A7C15u;
    // A 64-bit mix (splitmix64's finaliser), so that neighbouring inputs give unrelated names.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

#if defined(_WIN32)

// The C runtime's descriptors; Windows has no symbolic links that the library follows, no
// hard-link counts it reads, and no owners it copies.

namespace {

using wide_text = std::unique_ptr<wchar_t[], free_deleter>;

// The UTF-16 form of a path that is ASCII or UTF-8; empty when the heap refuses.
wide_text wide_form(const char *path) noexcept {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (units <= 0) return nullptr;
    wide_text wide(static_cast<wchar_t *>(std::malloc(sizeof(wchar_t) * std::size_t(units))));
    if (wide &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.get(), units) != units)
        wide.reset();
    return wide;
}

// Whether `path` goes to the wide API; `wide` then holds its UTF-16 form, or nothing when the
// heap refused (the call then fails as if the path could not be opened).
bool takes_wide_api(const char *path, wide_text &wide) noexcept {
    if (!is_utf8_beyond_ascii(path)) return false;
    wide = wide_form(path);
    return true;
}

bool is_ascii(const char *path) noexcept {
    for (; *path; ++path)
        if (static_cast<unsigned char>(*path) >= 0x80) return false;
    return true;
}

constexpr int read_flags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int create_flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
constexpr int write_flags = _O_WRONLY | _O_BINARY | _O_NOINHERIT;

int open_path(const char *path, int flags) noexcept {
    wide_text wide;
    if (!takes_wide_api(path, wide)) return _open(path, flags, _S_IREAD | _S_IWRITE);
    return wide ? _wopen(wide.get(), flags, _S_IREAD | _S_IWRITE) : -1;
}

}  // namespace

Lookup look_up(const char *path, Facts &facts) noexcept {
    struct _stat64 st;
    wide_text wide;
    const int status = !takes_wide_api(path, wide) ? _stat64(path, &st)
                       : wide                      ? _wstat64(wide.get(), &st)
                                                   : (errno = ENOMEM, -1);
    if (status != 0) return errno == ENOENT ? Lookup::missing : Lookup::failed;
    facts.regular = (st.st_mode & _S_IFMT) == _S_IFREG;
    return Lookup::found;
}

bool may_write(const char *path) noexcept {
    wide_text wide;
    if (!takes_wide_api(path, wide)) return _access(path, 2) == 0;
    return wide && _waccess(wide.get(), 2) == 0;
}

int open_for_reading(const char *path) noexcept { return open_path(path, read_flags); }

bool regular_file_size(int fd, std::uint64_t &size) noexcept {
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = std::uint64_t(st.st_size);
    return true;
}

long long read_some(int fd, void *buffer, std::size_t size) noexcept {
    return _read(fd, buffer, unsigned(transfer_size(size)));
}

int create_new(const char *path) noexcept { return open_path(path, create_flags); }

int open_for_writing(const char *path) noexcept { return open_path(path, write_flags); }

bool truncate(int fd, std::uint64_t size) noexcept {
    return _chsize_s(fd, static_cast<long long>(size)) == 0;
}

bool write_all(int fd, const void *data, std::size_t size) noexcept {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const int written = _write(fd, bytes, unsigned(transfer_size(size)));
        if (written <= 0) return false;
        bytes += written;
        size -= std::size_t(written);
    }
    return true;
}

bool close(int fd) noexcept { return _close(fd) == 0; }

// The temporary file lies in the target's folder, so the two names are either both ASCII or
// ANSI (the narrow API), or both ASCII or UTF-8 with at least one beyond ASCII (the wide API).
bool replace(const char *from, const char *to) noexcept {
    constexpr DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!is_utf8_beyond_ascii(from) && !is_utf8_beyond_ascii(to))
        return MoveFileExA(from, to, flags) != 0;
    if ((!is_ascii(from) && !is_utf8_beyond_ascii(from)) ||
        (!is_ascii(to) && !is_utf8_beyond_ascii(to)))
        return false;
    const wide_text wide_from = wide_form(from), wide_to = wide_form(to);
    return wide_from && wide_to && MoveFileExW(wide_from.get(), wide_to.get(), flags) != 0;
}

void remove(const char *path) noexcept {
    wide_text wide;
    if (!takes_wide_api(path, wide))
        _unlink(path);
    else if (wide)
        _wunlink(wide.get());
}

#else

int open_for_reading(const char *path) noexcept {
    int fd;
    do fd = ::open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
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
    ssize_t n;
    do n = ::read(fd, buffer, transfer_size(size));
    while (n < 0 && errno == EINTR);
    return n;
}

bool write_all(int fd, const void *data, std::size_t size) noexcept {
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, transfer_size(size));
        if (n < 0 && errno == EINTR) continue;
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

#endif

}  // namespace kelvane::fs

// The file calls on Windows: the C runtime's descriptors, and the wide API for UTF-8 names.
// Windows has no symbolic links that the library follows, no hard-link counts it reads, and no
// owners it copies.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "base/file_system.hpp"

namespace kelvane::fs {

namespace {

// One read or write moves at most 1 GiB: the C runtime's calls take an unsigned int.
constexpr std::size_t max_transfer = std::size_t(1) << 30;

std::size_t transfer_size(std::size_t size) noexcept {
    return size > max_transfer ? max_transfer : size;
}

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

std::uint64_t process_number() noexcept { return GetCurrentProcessId(); }

}  // namespace kelvane::fs

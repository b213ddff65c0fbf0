// The file-system calls the library makes, behind one small interface, one platform a file:
// POSIX descriptors (file_system_posix.cpp), the C runtime's on Windows (file_system_windows.cpp),
// or the JavaScript host's files in WebAssembly (file_system_js.cpp). The output's POSIX calls
// relative to its folder are output_file_posix.cpp's own.
//
// Paths are byte strings. POSIX systems get them as they come. On Windows a path that is valid
// UTF-8 and holds a character beyond ASCII is taken as UTF-8: it is converted to UTF-16 and
// opened, created, renamed and removed through the wide API, so that any name can be reached
// whatever the user's code page; every other path (ASCII, or bytes in the ANSI code page) goes
// to the narrow API as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/large_memory.hpp"

namespace kelvane::fs {

// A NUL-terminated text that owns its bytes (malloc'd); empty when the heap refused it.
using text = std::unique_ptr<char[], free_deleter>;

// `a` followed by the first `b_size` bytes of `b`.
text join(const char *a, const char *b, std::size_t b_size) noexcept;

// Whether `path` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF)
// holding at least one character beyond ASCII: the paths that Windows gets as UTF-8.
bool is_utf8_beyond_ascii(const char *path) noexcept;

// A descriptor open for reading, close-on-exec; -1 when the path cannot be opened or names a
// folder.
int open_for_reading(const char *path) noexcept;

// The size of the regular file behind `fd`; false for pipes, devices and the like.
bool regular_file_size(int fd, std::uint64_t &size) noexcept;

// Reads up to `size` bytes: how many were read, 0 at the end, -1 on an error.
long long read_some(int fd, void *buffer, std::size_t size) noexcept;

// Writes every byte; false on any failure (a full disk, a file-size limit, a closed pipe).
bool write_all(int fd, const void *data, std::size_t size) noexcept;

// Closes `fd`; false when the system reports a failure (some report deferred write errors here).
bool close(int fd) noexcept;

#if defined(_WIN32)
// The output's calls on Windows, by path (POSIX systems write relative to a folder descriptor,
// output_file.cpp).

// What a path names, as far as the output side needs to know.
struct Facts {
    bool regular = false;  // a regular file (not a folder or a device)
};
enum class Lookup { found, missing, failed };
Lookup look_up(const char *path, Facts &facts) noexcept;

// Whether the caller may write the existing file (it is not read-only).
bool may_write(const char *path) noexcept;

// Creates `path` exclusively for writing, readable and writable by the caller; -1 on failure.
int create_new(const char *path) noexcept;

// Opens the existing `path` for writing, without truncating it; -1 on failure.
int open_for_writing(const char *path) noexcept;

// Cuts or extends the file behind `fd` to `size` bytes.
bool truncate(int fd, std::uint64_t size) noexcept;

// Puts `from` in the place of `to` in one step, replacing the file there.
bool replace(const char *from, const char *to) noexcept;

void remove(const char *path) noexcept;
#endif

// A number that differs between calls, processes and runs, for names of temporary files.
std::uint64_t unique_number() noexcept;
// The process's own number (its id), which unique_number mixes in.
std::uint64_t process_number() noexcept;

}  // namespace kelvane::fs

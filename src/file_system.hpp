// The file-system calls the library makes, behind one small interface: the only code that knows
// the platform's file API (POSIX descriptors, or the C runtime's on Windows). Every call retries
// where a signal interrupted it.
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

#include "image.hpp"

namespace kelvane::fs {

// A NUL-terminated text that owns its bytes (malloc'd); empty when the heap refused it.
using text = std::unique_ptr<char[], free_deleter>;

// `a` followed by the first `b_size` bytes of `b`.
text join(const char *a, const char *b, std::size_t b_size) noexcept;

// Whether `path` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF)
// holding at least one character beyond ASCII: the paths that Windows gets as UTF-8.
bool is_utf8_beyond_ascii(const char *path) noexcept;

// What a path names, as far as the output side needs to know.
struct Facts {
    bool regular = false;     // a regular file (not a folder, device, FIFO or socket)
    std::uint64_t links = 1;  // its number of hard links
    unsigned mode = 0;        // its permission bits
    std::uint64_t device = 0, inode = 0;
    long long owner = -1, group = -1;
};

enum class Lookup { found, missing, failed };

// Facts of what `path` names, following symbolic links (`follow`) or not.
Lookup look_up(const char *path, bool follow, Facts &facts) noexcept;

// The path that `path` finally names once every symbolic link along its last component is
// replaced by the link's target (relative targets taken from the link's folder); `path` itself
// when it is no link. Empty when the heap refuses, or after 40 links (a loop).
text resolve_links(const char *path) noexcept;

// A descriptor open for reading, close-on-exec; -1 when the path cannot be opened or names a
// folder.
int open_for_reading(const char *path) noexcept;

// The size of the regular file behind `fd`; false for pipes, devices and the like.
bool regular_file_size(int fd, std::uint64_t &size) noexcept;

// Reads up to `size` bytes: how many were read, 0 at the end, -1 on an error.
long long read_some(int fd, void *buffer, std::size_t size) noexcept;

// Creates `path` exclusively (never an existing file, never through a link) for writing,
// close-on-exec, with the permission bits `mode` less the umask; -1 on failure.
int create_new(const char *path, unsigned mode) noexcept;

// Opens (creating or truncating) `path` for writing in place; -1 on failure.
int open_in_place(const char *path) noexcept;

// Writes every byte; false on any failure (a full disk, a file-size limit, a closed pipe).
bool write_all(int fd, const void *data, std::size_t size) noexcept;

// Gives the file behind `fd` the owner and permission bits in `facts`, as far as the system
// allows (a file system without them, a user who may not give files away).
void adopt_owner_and_mode(int fd, const Facts &facts) noexcept;

// Closes `fd`; false when the system reports a failure (some report deferred write errors here).
bool close(int fd) noexcept;

// Puts `from` in the place of `to` in one step, replacing the file there.
bool replace(const char *from, const char *to) noexcept;

void remove(const char *path) noexcept;

// A number that differs between calls, processes and runs, for names of temporary files.
std::uint64_t unique_number() noexcept;

}  // namespace kelvane::fs

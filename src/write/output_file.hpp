// The output file: the encoded bytes, whole in memory, put in place as writing the file would put
// them, or nothing changed at all.
//
// What a write of the path may do, this does: it follows symbolic links only as the kernel
// follows them for the caller, writes only a file the caller may write, and creates only where a
// new file may be created. An existing regular file is replaced in one rename by a new one that
// carries its owner, group, mode, ACL and extended attributes; the new content is written first
// to an unnamed file in the target's folder (Linux's O_TMPFILE), or where there is none to a
// temporary file that only the caller may read, so that no one else sees it before the commit and
// a process killed at any moment leaves the old file or the new one. Where a replacement cannot
// carry everything (the owner, an attribute, a file with more than one hard link, a mount point,
// a folder that takes no new file), the existing file is written in place under an exclusive
// lock, as a write would: checked, with room reserved first where the file system can. Outputs
// that are not regular files (devices, FIFOs, /dev/stdout) are written through.
#pragma once

#include <cstddef>

namespace kelvane {

// Puts the `size` bytes at `data` into the file at `path`; false when it could not, with the
// file as it was (in place, a failure after the first byte written can still cut it short, as a
// write's would).
bool write_output_file(const char *path, const void *data, std::size_t size) noexcept;

}  // namespace kelvane

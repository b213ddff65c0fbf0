// The output file, written so that a success means the whole file is in place. The bytes go to
// a temporary file beside the target (created exclusively, close-on-exec), which replaces the
// target in one rename once every write and the close have succeeded; any failure removes it and
// leaves the target as it was. A symbolic link is followed to the file it names, so links stay
// links; a replaced file keeps its permission bits (and owner, where the system allows); a new
// one gets 0666 less the umask.
//
// Where a rename would change what the name means, or cannot be done, the file is written in
// place instead, every write still checked: outputs that are not regular files (devices, FIFOs,
// /dev/stdout), files with more than one hard link, and existing files in a folder where no
// temporary file can be created. A failure there can leave the file cut short.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file_system.hpp"

namespace kelvane {

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile();  // an output never committed is abandoned

    // Gets ready to write `path`; false when nothing can be written there.
    bool open(const char *path) noexcept;
    // Adds bytes to the file. A failure is remembered; the bytes after it are dropped.
    void write(const void *data, std::size_t size) noexcept;
    // Finishes the file and puts it in place; false when any step failed.
    bool commit() noexcept;

  private:
    bool create_temporary(bool &out_of_memory) noexcept;
    bool open_in_place(const char *path) noexcept;
    bool flush() noexcept;
    void abandon() noexcept;

    int fd_ = -1;
    fs::text target_, temporary_;  // the temporary file, when not writing in place
    fs::Facts replaced_;           // the file being replaced, when there is one
    bool replacing_ = false, failed_ = false;
    std::unique_ptr<std::uint8_t[], free_deleter> buffer_;
    std::size_t buffered_ = 0;
};

}  // namespace kelvane

#include <cerrno>
#include <cstring>

#include "base/file_system.hpp"
#include "write/output_file.hpp"
#include "write/temporary_name.hpp"

namespace kelvane {

// Windows: paths throughout (fs takes UTF-8 names to the wide API). A replaced file gets what the
// file system gives a new file in its folder (inherited ACLs); its read-only attribute refuses the
// write, as it refuses a plain one.
namespace {

// The length of the folder part of `path`, separator included (0 for a bare name).
std::size_t folder_length(const char *path) noexcept {
    const char *slash = std::strrchr(path, '/'), *backslash = std::strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
    return slash ? std::size_t(slash - path) + 1 : 0;
}

bool write_in_place(const char *path, bool regular, const void *data, std::size_t size) noexcept {
    const int fd = fs::open_for_writing(path);
    if (fd < 0) return false;
    bool ok = fs::write_all(fd, data, size) && (!regular || fs::truncate(fd, size));
    return fs::close(fd) && ok;
}

// The named temporary file beside the target, readable and writable by the caller alone.
bool write_beside(const char *path, const void *data, std::size_t size, bool &refused) noexcept {
    const fs::text folder = fs::join("", path, folder_length(path));
    if (!folder) return false;
    TemporaryName name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name.renew();
        const fs::text temporary = fs::join(folder.get(), name.text, std::strlen(name.text));
        if (!temporary) return false;
        const int fd = fs::create_new(temporary.get());
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            refused = errno == EACCES || errno == EPERM || errno == EROFS;
            return false;
        }
        bool ok = fs::write_all(fd, data, size);
        ok = fs::close(fd) && ok && fs::replace(temporary.get(), path);
        if (!ok) fs::remove(temporary.get());
        return ok;
    }
    return false;
}

}  // namespace

bool write_output_file(const char *path, const void *data, std::size_t size) noexcept {
    fs::Facts facts;
    const fs::Lookup lookup = fs::look_up(path, facts);
    if (lookup == fs::Lookup::failed) return false;
    if (lookup == fs::Lookup::found && !facts.regular)
        return write_in_place(path, false, data, size);
    if (lookup == fs::Lookup::found && !fs::may_write(path)) return false;
    bool refused = false;
    if (write_beside(path, data, size, refused)) return true;
    return refused && lookup == fs::Lookup::found && write_in_place(path, true, data, size);
}

}  // namespace kelvane

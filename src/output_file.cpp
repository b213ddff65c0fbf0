#include "output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvane {
namespace {

// The encoders hand over a few dozen bytes at a time: they reach the file in pieces of this.
constexpr std::size_t buffer_size = 1 << 16;

// The length of the folder part of `path`, separator included (0 for a bare name).
std::size_t folder_length(const char *path) noexcept {
    const char *slash = std::strrchr(path, '/');
#if defined(_WIN32)
    const char *backslash = std::strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
#endif
    return slash ? std::size_t(slash - path) + 1 : 0;
}

// Whether `target`, where the links of `path` lead, is the file that `path` opens. A link that
// leads to no path of that file (as /proc/self/fd/N does for a deleted file) is not. Another
// writer may put a new file in place between the two looks: they are taken again then.
bool leads_to(const char *path, const char *target, fs::Facts &facts) noexcept {
    for (int attempt = 0; attempt < 3; ++attempt) {
        fs::Facts at_target;
        if (fs::look_up(target, false, at_target) == fs::Lookup::found &&
            at_target.device == facts.device && at_target.inode == facts.inode)
            return true;
        if (fs::look_up(path, true, facts) != fs::Lookup::found || !facts.regular) return false;
    }
    return false;
}

}  // namespace

OutputFile::~OutputFile() { abandon(); }

bool OutputFile::open(const char *path) noexcept {
    bool out_of_memory = false;
    buffer_.reset(static_cast<std::uint8_t *>(std::malloc(buffer_size)));
    if (!buffer_) return false;
    fs::Facts facts;
    switch (fs::look_up(path, true, facts)) {
        case fs::Lookup::failed:
            return false;
        case fs::Lookup::missing:
            target_ = fs::resolve_links(path);  // a dangling link names the file to create
            return target_ && create_temporary(out_of_memory);
        case fs::Lookup::found:
            break;
    }
    if (!facts.regular || facts.links > 1) return open_in_place(path);
    target_ = fs::resolve_links(path);
    if (!target_) return false;
    if (std::strcmp(target_.get(), path) != 0 && !leads_to(path, target_.get(), facts))
        return open_in_place(path);
    replaced_ = facts;
    replacing_ = true;
    // A folder that takes no new file may still hold a file that can be written.
    return create_temporary(out_of_memory) || (!out_of_memory && open_in_place(path));
}

bool OutputFile::create_temporary(bool &out_of_memory) noexcept {
    const fs::text folder = fs::join("", target_.get(), folder_length(target_.get()));
    out_of_memory = !folder;
    for (int attempt = 0; folder && attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".kelvane-%016llx.tmp",
                      (unsigned long long)fs::unique_number());
        temporary_ = fs::join(folder.get(), name, std::strlen(name));
        out_of_memory = !temporary_;
        if (out_of_memory) break;
        fd_ = fs::create_new(temporary_.get(), 0666);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    temporary_.reset();
    return false;
}

bool OutputFile::open_in_place(const char *path) noexcept {
    replacing_ = false;
    fd_ = fs::open_in_place(path);
    return fd_ >= 0;
}

void OutputFile::write(const void *data, std::size_t size) noexcept {
    if (failed_ || fd_ < 0) return;
    if (buffered_ + size > buffer_size) {
        if (!flush()) return;
        if (size >= buffer_size) {  // a whole PNG comes in one piece
            failed_ = !fs::write_all(fd_, data, size);
            return;
        }
    }
    std::memcpy(buffer_.get() + buffered_, data, size);
    buffered_ += size;
}

bool OutputFile::flush() noexcept {
    if (!failed_ && buffered_ > 0) failed_ = !fs::write_all(fd_, buffer_.get(), buffered_);
    buffered_ = 0;
    return !failed_;
}

bool OutputFile::commit() noexcept {
    if (fd_ < 0) return false;
    bool ok = flush();
    if (ok && replacing_) fs::adopt_owner_and_mode(fd_, replaced_);
    ok = fs::close(fd_) && ok;
    fd_ = -1;
    if (ok && temporary_) {
        // Whatever stands at the target now, only a regular file is ever replaced.
        fs::Facts now;
        const fs::Lookup lookup = fs::look_up(target_.get(), false, now);
        ok = (lookup == fs::Lookup::missing || (lookup == fs::Lookup::found && now.regular)) &&
             fs::replace(temporary_.get(), target_.get());
    }
    if (ok) temporary_.reset();
    abandon();
    return ok;
}

void OutputFile::abandon() noexcept {
    if (fd_ >= 0) fs::close(fd_);
    fd_ = -1;
    if (temporary_) fs::remove(temporary_.get());
    temporary_.reset();
}

}  // namespace kelvane

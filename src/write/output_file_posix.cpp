#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/vfs.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/file_system.hpp"
#include "base/retry.hpp"
#include "write/output_file.hpp"
#include "write/temporary_name.hpp"

namespace kelvane {

// POSIX: the target's folder is opened once and everything happens relative to it (openat,
// linkat, renameat), so that the path is resolved once and a temporary name never lengthens it.
namespace {

#ifndef O_PATH  // systems without it search a folder through a descriptor opened for reading
#define O_PATH O_RDONLY
#endif

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) fs::close(fd_);
        fd_ = fd;
    }
    // Closes it, reporting what the close reports (some file systems report write errors here).
    bool close() noexcept { return fs::close(std::exchange(fd_, -1)); }

  private:
    int fd_ = -1;
};

// Where a write of the output path lands: the folder, opened once, and the name in it.
struct Place {
    Descriptor folder;
    fs::text name;
    bool exists = false;
    bool without_path = false;  // a link to an open file that has no path (a pipe, a socket)
    struct stat facts;          // of what the name holds, when it exists
};

// Opens the folder part of `path` (relative to `base`) and keeps its last component as the name.
bool enter_folder(int base, const char *path, Place &place) noexcept {
    const char *slash = std::strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    if (*name == '\0') return false;  // a path ending in '/' names a folder
    const fs::text folder = !slash          ? fs::join(".", "", 0)
                            : slash == path ? fs::join("/", "", 0)
                                            : fs::join("", path, std::size_t(slash - path));
    place.name = fs::join(name, "", 0);
    if (!folder || !place.name) return false;
    place.folder.reset(
        retry([&] { return openat(base, folder.get(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    return bool(place.folder);
}

// Whether the kernel refuses to follow some links in sticky folders (fs.protected_symlinks);
// where that cannot be read, it is taken to.
bool symlinks_protected() noexcept {
    const Descriptor setting(
        retry([] { return open("/proc/sys/fs/protected_symlinks", O_RDONLY | O_CLOEXEC); }));
    char value = '1';
    if (setting && fs::read_some(setting.get(), &value, 1) != 1) value = '1';
    return value != '0';
}

// Whether the kernel follows `link` in `folder` for this caller: not a link in a sticky,
// world-writable folder that belongs neither to the caller nor to the folder's owner.
bool kernel_follows(int folder, const struct stat &link) noexcept {
    struct stat st;
    if (fstat(folder, &st) != 0) return false;
    if (link.st_uid == geteuid() || link.st_uid == st.st_uid) return true;
    if (!(st.st_mode & S_ISVTX) || !(st.st_mode & S_IWOTH)) return true;
    return !symlinks_protected();
}

// The target of the link open at `link`, as stored.
fs::text link_target(int link, std::size_t size_hint) noexcept {
    for (std::size_t capacity = size_hint + 1 < 256 ? 256 : size_hint + 1;;) {
        fs::text target(static_cast<char *>(std::malloc(capacity)));
        if (!target) return target;
        const ssize_t n = readlinkat(link, "", target.get(), capacity);
        if (n < 0) return nullptr;
        if (std::size_t(n) < capacity) {
            target[n] = '\0';
            return target;
        }
        if (capacity > (std::size_t(1) << 20)) return nullptr;
        capacity *= 2;
    }
}

// Whether `folder` is on procfs, where a descriptor's link to a pipe or socket reads "pipe:[N]"
// yet leads the kernel to that open file: /dev/stdout when standard output is a pipe.
bool is_proc_folder(int folder) noexcept {
#if defined(__linux__)
    struct statfs st;
    return fstatfs(folder, &st) == 0 && st.f_type == 0x9fa0;  // PROC_SUPER_MAGIC
#else
    (void)folder;
    return false;
#endif
}

// Finds the place a write of `path` reaches: the kernel resolves the folders, and links in the
// last component are followed here as the kernel would follow them (each link looked at and read
// through one descriptor, so that it cannot change between the two).
bool locate(const char *path, Place &place) noexcept {
    fs::text current = fs::join(path, "", 0);
    Descriptor base;  // where a relative link target starts; none: the working folder
    for (int hops = 0; current && hops <= 40; ++hops) {  // the kernel gives up after 40 as well
        if (!enter_folder(base ? base.get() : AT_FDCWD, current.get(), place)) return false;
        const Descriptor node(retry([&] {
            return openat(place.folder.get(), place.name.get(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        }));
        place.exists = bool(node);
        if (!node) return errno == ENOENT;
        if (fstat(node.get(), &place.facts) != 0) return false;
        if (!S_ISLNK(place.facts.st_mode)) return true;
        if (!kernel_follows(place.folder.get(), place.facts)) return false;
        current = link_target(node.get(), std::size_t(place.facts.st_size));
        if (current && current[0] != '/' && is_proc_folder(place.folder.get())) {
            place.without_path = true;
            return true;
        }
        if (current && current[0] != '/')
            base = std::move(place.folder);
        else
            base.reset();
    }
    return false;
}

// The process's file-creation mask, read without changing it where the system tells it.
mode_t creation_mask() noexcept {
    const Descriptor status(retry([] { return open("/proc/self/status", O_RDONLY | O_CLOEXEC); }));
    char text[4096];
    const long long n = status ? fs::read_some(status.get(), text, sizeof text - 1) : -1;
    if (n > 0) {
        text[n] = '\0';
        if (const char *line = std::strstr(text, "\nUmask:"))
            return mode_t(std::strtoul(line + 7, nullptr, 8) & 0777);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

enum class Commit { done, busy, failed };

// A temporary file is named only while its writer holds an exclusive flock on it, and first
// takes one of a few fixed names, so that the next writer in the folder finds what a writer
// killed in that moment left: a file under one of those names that no one holds. Beyond that many
// writers at once in one folder, a random name.
constexpr int temporary_slots = 16;

void slot_name(int slot, TemporaryName &name) noexcept {
    std::snprintf(name.text, sizeof name.text, ".kelvane-%02d.tmp", slot);
}

// Removes `name` from `folder` when it is a regular file that no writer holds.
void remove_if_left_over(int folder, const char *name) noexcept {
    const Descriptor file(retry(
        [&] { return openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    struct stat held, named;
    if (!file || fstat(file.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
    if (flock(file.get(), LOCK_EX | LOCK_NB) != 0) return;  // its writer is at work
    // Still that file under that name: a writer that has renamed it away leaves none behind.
    if (fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        unlinkat(folder, name, 0);
}

// The new content, in a file of the target's folder that no one else can open: unnamed where the
// system has such files, else under a private name, readable by the caller alone until its commit.
class Temporary {
  public:
    Temporary(int folder) noexcept : folder_(folder) {}
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;
    ~Temporary() {
        if (named_) unlinkat(folder_, name_.text, 0);  // before its lock goes, with the members
    }

    // Creates the file: unnamed with `unnamed_mode` (the umask applies), or named with
    // `named_mode`. False with errno as the system gave it.
    bool create(mode_t unnamed_mode, mode_t named_mode) noexcept {
#ifdef O_TMPFILE
        fd_.reset(retry(
            [&] { return openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, unnamed_mode); }));
        if (fd_) {
            flock(fd_.get(), LOCK_EX | LOCK_NB);  // a new file: no one else can hold it
            return true;
        }
        // File systems without unnamed files say so; kernels that predate them see a folder.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
#else
        (void)unnamed_mode;
#endif
        return take_name([&](const char *name) { return create_locked(name, named_mode); });
    }
    int fd() const noexcept { return fd_.get(); }
    bool named() const noexcept { return named_; }

    // Gives the file the permission bits `mode` (unless negative) and puts it in the place of
    // `name`, which must be missing or a regular file.
    Commit commit(const char *name, int mode) noexcept {
        if (mode >= 0 && fchmod(fd_.get(), mode_t(mode)) != 0) return Commit::failed;
        struct stat st;
        if (fstatat(folder_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
            return Commit::failed;
        if (!named_ && !take_name([&](const char *n) { return link_here(n); }))
            return Commit::failed;
        lock_.reset(dup(fd_.get()));  // the lock stays while the descriptor closes
        if (!lock_ || !fd_.close()) return Commit::failed;
        if (renameat(folder_, name_.text, folder_, name) != 0)
            return errno == EBUSY ? Commit::busy : Commit::failed;  // EBUSY: a mount point
        named_ = false;
        return Commit::done;
    }

  private:
    // Names the file through `take(name)` (0, or -1 with errno EEXIST where the name is taken):
    // the first free fixed name once the left-over files under them are gone, else a random one.
    template <class Take>
    bool take_name(Take take) noexcept {
        for (int slot = 0; slot < temporary_slots; ++slot) {
            slot_name(slot, name_);
            remove_if_left_over(folder_, name_.text);
        }
        for (int attempt = 0; attempt < temporary_slots + 100; ++attempt) {
            if (attempt < temporary_slots)
                slot_name(attempt, name_);
            else
                name_.renew();
            named_ = take(name_.text) == 0;
            if (named_ || errno != EEXIST) return named_;
        }
        return false;
    }

    // Creates the named file and locks it; a file that another writer locked first, or removed
    // as left over before the lock, counts as a taken name.
    int create_locked(const char *name, mode_t mode) noexcept {
        fd_.reset(retry([&] {
            return openat(folder_, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          mode);
        }));
        if (!fd_) return -1;
        struct stat own, named;
        const bool locked = flock(fd_.get(), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
        if (locked && fstat(fd_.get(), &own) == 0 &&
            fstatat(folder_, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            own.st_dev == named.st_dev && own.st_ino == named.st_ino)
            return 0;
        fd_.reset();
        errno = EEXIST;
        return -1;
    }

    // Links the unnamed file to `name`: through /proc, which any user may do, or where /proc is
    // missing by its descriptor, which needs privileges.
    int link_here(const char *name) noexcept {
        char proc_path[48];
        std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_.get());
        int linked = linkat(AT_FDCWD, proc_path, folder_, name, AT_SYMLINK_FOLLOW);
#ifdef AT_EMPTY_PATH
        if (linked != 0 && errno == ENOENT)
            linked = linkat(fd_.get(), "", folder_, name, AT_EMPTY_PATH);
#endif
        return linked;
    }

    int folder_;
    Descriptor lock_;  // declared before the file: closed after it
    Descriptor fd_;
    TemporaryName name_;
    bool named_ = false;
};

// Whether the new file carries the old one's identity; `refused` where the caller may not give
// it (the replacement is then not made), `failed` where memory ran short (nothing is written).
enum class Carried { yes, refused, failed };

#if defined(__linux__)

// The names of the extended attributes of `fd`, each followed by a NUL; `size` 0 when it has
// none or its file system keeps none.
Carried attribute_names(int fd, fs::text &names, std::size_t &size) noexcept {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t needed = flistxattr(fd, nullptr, 0);
        if (needed < 0) return (size = 0, errno == ENOTSUP ? Carried::yes : Carried::refused);
        names.reset(static_cast<char *>(std::malloc(std::size_t(needed) + 1)));
        if (!names) return Carried::failed;
        const ssize_t got = flistxattr(fd, names.get(), std::size_t(needed));
        if (got >= 0) return (size = std::size_t(got), Carried::yes);
        if (errno != ERANGE) return Carried::refused;  // ERANGE: one was added meanwhile
    }
    return Carried::refused;
}

bool listed(const char *names, std::size_t size, const char *name) noexcept {
    for (const char *n = names; n < names + size; n += std::strlen(n) + 1)
        if (std::strcmp(n, name) == 0) return true;
    return false;
}

Carried copy_attribute(int from, int to, const char *name) noexcept {
    const ssize_t size = fgetxattr(from, name, nullptr, 0);
    if (size < 0) return Carried::refused;
    const fs::text value(static_cast<char *>(std::malloc(std::size_t(size) + 1)));
    if (!value) return Carried::failed;
    const ssize_t got = fgetxattr(from, name, value.get(), std::size_t(size));
    return got >= 0 && fsetxattr(to, name, value.get(), std::size_t(got), 0) == 0
               ? Carried::yes
               : Carried::refused;
}

// Gives `to` exactly the extended attributes of `from` (POSIX ACLs among them): the ones the new
// file got from its folder (a default ACL, a security label) give way to the old file's.
Carried copy_attributes(int from, int to) noexcept {
    fs::text from_names, to_names;
    std::size_t from_size = 0, to_size = 0;
    Carried carried = attribute_names(from, from_names, from_size);
    if (carried == Carried::yes) carried = attribute_names(to, to_names, to_size);
    for (const char *n = to_names.get(); carried == Carried::yes && n < to_names.get() + to_size;
         n += std::strlen(n) + 1)
        if (!listed(from_names.get(), from_size, n) && fremovexattr(to, n) != 0)
            carried = Carried::refused;
    for (const char *n = from_names.get();
         carried == Carried::yes && n < from_names.get() + from_size; n += std::strlen(n) + 1)
        carried = copy_attribute(from, to, n);
    return carried;
}

#else

Carried copy_attributes(int, int) noexcept { return Carried::yes; }

#endif

// Gives the new file the old one's owner, group and extended attributes.
Carried carry_identity(int old_file, const struct stat &old_facts, int new_file) noexcept {
    struct stat st;
    if (fstat(new_file, &st) != 0) return Carried::refused;
    if ((st.st_uid != old_facts.st_uid || st.st_gid != old_facts.st_gid) &&
        fchown(new_file, old_facts.st_uid, old_facts.st_gid) != 0)
        return Carried::refused;
    return copy_attributes(old_file, new_file);
}

// Writes over the existing file as a write would, under an exclusive lock so that two writers of
// this library never mix; room for the new content is reserved first where the file system can,
// so that a full disk is met before the old content is touched.
bool write_in_place(Descriptor file, bool regular, const void *data, std::size_t size) noexcept {
    if (regular) {
        if (retry([&] { return flock(file.get(), LOCK_EX); }) != 0) return false;
#if defined(__linux__)
        if (size > 0 && fallocate(file.get(), 0, 0, off_t(size)) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS)
            return false;
#endif
    }
    const bool ok = fs::write_all(file.get(), data, size) &&
                    (!regular || retry([&] { return ftruncate(file.get(), off_t(size)); }) == 0);
    return file.close() && ok;
}

// Whether a failure to create a file in a folder is one of rights, where the existing file may
// still be written.
bool refused_by_rights(int error) noexcept {
    return error == EACCES || error == EPERM || error == EROFS;
}

bool create_file(const Place &place, const void *data, std::size_t size) noexcept {
    Temporary temporary(place.folder.get());
    if (!temporary.create(0666, 0600) || !fs::write_all(temporary.fd(), data, size)) return false;
    const int mode = temporary.named() ? int(0666 & ~creation_mask()) : -1;
    return temporary.commit(place.name.get(), mode) == Commit::done;
}

bool replace_file(const Place &place, Descriptor existing, const void *data,
                  std::size_t size) noexcept {
    const mode_t mode = place.facts.st_mode & 07777;
    Temporary temporary(place.folder.get());
    if (!temporary.create(0600, mode & 0600))
        return refused_by_rights(errno) && write_in_place(std::move(existing), true, data, size);
    if (!fs::write_all(temporary.fd(), data, size)) return false;  // the old file stays whole
    switch (carry_identity(existing.get(), place.facts, temporary.fd())) {
        case Carried::yes:
            break;
        case Carried::refused:
            return write_in_place(std::move(existing), true, data, size);
        case Carried::failed:
            return false;
    }
    switch (temporary.commit(place.name.get(), int(mode))) {
        case Commit::done:
            return true;
        case Commit::busy:
            return write_in_place(std::move(existing), true, data, size);
        case Commit::failed:
            break;
    }
    return false;
}

// Writes the open file a link leads to, the kernel following the link, as a write would.
bool write_through_link(const Place &place, const void *data, std::size_t size) noexcept {
    Descriptor file(
        retry([&] { return openat(place.folder.get(), place.name.get(), O_WRONLY | O_CLOEXEC); }));
    struct stat st;
    if (!file || fstat(file.get(), &st) != 0) return false;
    return write_in_place(std::move(file), S_ISREG(st.st_mode), data, size);
}

}  // namespace

bool write_output_file(const char *path, const void *data, std::size_t size) noexcept {
    Place place;
    if (!locate(path, place)) return false;
    if (place.without_path) return write_through_link(place, data, size);
    if (!place.exists) return create_file(place, data, size);
    // Opened as a write opens it, without truncating: here the kernel refuses what a write may
    // not do (rights, ACLs, a read-only file system, its protections in sticky folders).
    Descriptor existing(retry([&] {
        return openat(place.folder.get(), place.name.get(),
                      O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    }));
    if (!existing || fstat(existing.get(), &place.facts) != 0) return false;
    const bool regular = S_ISREG(place.facts.st_mode);
    if (!regular || place.facts.st_nlink > 1)
        return write_in_place(std::move(existing), regular, data, size);
    return replace_file(place, std::move(existing), data, size);
}

}  // namespace kelvane

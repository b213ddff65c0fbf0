/* What the file system shows of a path, on POSIX systems: lstat, stat, access and statvfs. */
#define _XOPEN_SOURCE 700
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "host.h"

/* Whether the last call failed because the path leads nowhere (rather than being hidden). */
static int errno_missing(void) { return errno == ENOENT || errno == ENOTDIR; }

static int kind_of(mode_t mode) {
    if (S_ISREG(mode)) return host_file;
    if (S_ISDIR(mode)) return host_folder;
    if (S_ISLNK(mode)) return host_link;
    if (S_ISFIFO(mode)) return host_fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return host_device;
    return host_other;
}

/* Whether the kernel refuses to follow the link `st` at `path` for this user: a link in a sticky,
 * world-writable folder that belongs neither to the user nor to the folder's owner, while
 * fs.protected_symlinks is on. */
static int unfollowed(const char *path, const struct stat *link) {
    char folder[4096], setting = '1';
    const char *slash = strrchr(path, '/');
    struct stat st;
    FILE *file;
    if (link->st_uid == geteuid()) return 0;
    if (!slash) {
        strcpy(folder, ".");
    } else if ((size_t)(slash - path) < sizeof folder) {
        memcpy(folder, path, (size_t)(slash - path) + (slash == path));
        folder[(slash - path) + (slash == path)] = '\0';
    } else {
        return 0;
    }
    if (stat(folder, &st) != 0 || link->st_uid == st.st_uid) return 0;
    if (!(st.st_mode & S_ISVTX) || !(st.st_mode & S_IWOTH)) return 0;
    file = fopen("/proc/sys/fs/protected_symlinks", "r");
    if (file) {
        if (fread(&setting, 1, 1, file) != 1) setting = '1';
        fclose(file);
    }
    return setting != '0';
}

void host_look(const char *path, struct host_facts *facts) {
    struct stat st;
    struct statvfs space;
    memset(facts, 0, sizeof *facts);
    if (lstat(path, &st) != 0) {
        facts->kind = facts->target = errno_missing() ? host_missing : host_unknown;
        return;
    }
    facts->kind = kind_of(st.st_mode);
    if (facts->kind == host_link) facts->unfollowed = unfollowed(path, &st);
    facts->target = stat(path, &st) == 0 ? kind_of(st.st_mode)
                    : errno_missing()    ? host_missing
                                         : host_unknown;
    facts->readable = access(path, R_OK) == 0;
    facts->writable = access(path, W_OK) == 0;
    facts->searchable = access(path, X_OK) == 0;
    if (facts->target != host_missing && statvfs(path, &space) == 0) {
        facts->read_only = (space.f_flag & ST_RDONLY) != 0;
        facts->full = space.f_bavail == 0 || (space.f_files > 0 && space.f_favail == 0);
    }
}

size_t host_read_start(const char *path, unsigned char *buffer, size_t size) {
    struct stat st;
    size_t got = 0;
    int fd;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    /* Not blocking, in case it turned into a FIFO meanwhile; checked once open. */
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        while (got < size) {
            const ssize_t n = read(fd, buffer + got, size - got);
            if (n <= 0) break;
            got += (size_t)n;
        }
    else
        got = 0;
    close(fd);
    return got;
}

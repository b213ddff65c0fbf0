/* What the host library's files share: the operation table, the texts they write, and the
 * platform's view of the file system (platform_posix.c, platform_windows.c, platform_js.c). */
#ifndef KELVANE_HOST_INTERNAL_H
#define KELVANE_HOST_INTERNAL_H

#include <stddef.h>

#include "kelvane_host.h"

#if defined(__GNUC__)
#define HOST_PRINTF(string, first) __attribute__((format(printf, string, first)))
#else
#define HOST_PRINTF(string, first)
#endif

struct host_parameter {
    const char *name;     /* as the command line shows it, in capitals */
    const char *option;   /* the option of a front end that gives it ("color" gives r, g and b) */
    int minimum, maximum; /* the values the library takes as they are */
    int fallback;         /* its default, unless it is required */
    int required;
    int example; /* a value that shows what it does, for a usage text or a page */
};

struct host_operation {
    const char *name, *summary, *description;
    int count;
    struct host_parameter parameters[KELVANE_HOST_MAX_NUMBERS];
    int (*run)(const char *in_path, const char *out_path, const int *numbers);
};

/* The operation numbered `operation`, or NULL. */
const struct host_operation *host_operation(int operation);
/* Its numbers' names in capitals, as the command line shows them ("BORDER R G B"). */
void host_number_names(const struct host_operation *op, char *into, size_t size);
/* The formats a result in memory can have (NULL-terminated), and the name of bytes in memory. */
extern const char *const host_formats[];
extern const char host_bytes_name[];

/* Writes the text into `into` (cut to fit) and returns 0, for a "why" or a hint. */
int host_say(char *into, size_t size, const char *format, ...) HOST_PRINTF(3, 4);

/* The message with each path given in memory, in quotes, replaced by its name; cut at the
 * library's 511 bytes. */
void host_name_paths(const char *message, const char *in_path, const char *in_name,
                     const char *out_path, const char *out_name, char *into, size_t size);

/* ---- the platform ----------------------------------------------------------------------- */

enum host_kind {
    host_unknown, /* the system would not tell (a folder on the way that may not be searched) */
    host_missing,
    host_file,
    host_folder,
    host_link,
    host_fifo,
    host_device,
    host_other
};

/* What the file system shows of a path, looked at and never opened: eight ints, in this order,
 * which the JavaScript package fills in from Node's fs in WebAssembly. */
struct host_facts {
    int kind;     /* what the name itself is (lstat) */
    int target;   /* what it leads to, links followed (stat): host_missing for a dangling link */
    int readable; /* for this user, links followed (access) */
    int writable;
    int searchable;
    int read_only;  /* on a read-only file system */
    int full;       /* no block or no inode left for this user there */
    int unfollowed; /* a link the system does not follow for this user (fs.protected_symlinks) */
};

void host_look(const char *path, struct host_facts *facts);
/* The first `size` bytes (or fewer) of the file at `path` if it is a regular file now, into
 * `buffer`: how many; 0 for anything else (a FIFO is never opened). */
size_t host_read_start(const char *path, unsigned char *buffer, size_t size);

#endif

/* What a front end adds to the library's messages: the likely cause of a failure, from what the
 * file system shows (a hint), and warnings about a job that will not do what its names suggest. */
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

enum { folder_size = 4096, start_size = 2 * 65536 + 64 };

/* A hint that names `path`: its text, the path into `path` and the errno it stands for. */
struct hint {
    char *text, *path;
    size_t text_size, path_size;
};

static int say(const struct hint *h, int number, const char *about, const char *format, ...)
    HOST_PRINTF(4, 5);
static int say(const struct hint *h, int number, const char *about, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(h->text, h->text_size, format, arguments);
    va_end(arguments);
    if (h->path && h->path_size) snprintf(h->path, h->path_size, "%s", about);
    return number;
}

/* The folder part of `path` ("." for a bare name); 0 when it does not fit. */
static int folder_of(const char *path, char *folder) {
    const char *slash = strrchr(path, '/');
#ifdef _WIN32
    const char *backslash = strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
#endif
    if (slash == path) {
        strcpy(folder, "/");
    } else if (!slash) {
        strcpy(folder, ".");
    } else if ((size_t)(slash - path) < folder_size) {
        memcpy(folder, path, (size_t)(slash - path));
        folder[slash - path] = '\0';
    } else {
        return 0;
    }
    return 1;
}

/* What a FIFO or a device is, where a regular file was wanted. */
static int not_a_file(const struct hint *h, int kind, const char *path) {
    if (kind == host_fifo) return say(h, -1, path, "'%s' is a FIFO, not a regular file", path);
    if (kind == host_device) return say(h, -1, path, "'%s' is a device, not a regular file", path);
    return 0;
}

static int input_hint(const struct hint *h, const char *in) {
    struct host_facts file;
    host_look(in, &file);
    if (file.kind == host_missing) return say(h, ENOENT, in, "'%s' does not exist", in);
    if (file.kind == host_link && file.target == host_missing)
        return say(h, ENOENT, in, "'%s' is a link to a file that does not exist", in);
    if (file.target == host_folder) return say(h, EISDIR, in, "'%s' is a folder", in);
    if (file.kind != host_unknown && !file.readable)
        return say(h, EACCES, in, "no permission to read '%s'", in);
    return not_a_file(h, file.target, in);
}

static int output_hint(const struct hint *h, const char *out) {
    char folder[folder_size];
    struct host_facts place, file;
    if (!folder_of(out, folder)) return 0;
    host_look(folder, &place);
    host_look(out, &file);
    if (place.target == host_missing)
        return say(h, ENOENT, folder, "the folder '%s' does not exist", folder);
    if (place.target != host_folder && place.target != host_unknown)
        return say(h, ENOTDIR, folder, "'%s' is not a folder", folder);
    if (file.target == host_folder) return say(h, EISDIR, out, "'%s' is a folder", out);
    if (file.unfollowed)
        return say(h, EACCES, out,
                   "'%s' is another user's link in a sticky folder, which the system does not "
                   "follow for this user",
                   out);
    if (place.read_only) return say(h, EROFS, folder, "'%s' is on a read-only file system", folder);
    if (file.target != host_missing && file.target != host_unknown && !file.writable)
        return say(h, EACCES, out, "no permission to write '%s'", out);
    if (file.target == host_missing && (!place.writable || !place.searchable))
        return say(h, EACCES, folder, "no permission to write in the folder '%s'", folder);
    if (place.full)
        return say(h, ENOSPC, folder, "no space left on the disk that holds '%s'", folder);
    return not_a_file(h, file.target, out);
}

static int starts(const char *text, const char *start) {
    return strncmp(text, start, strlen(start)) == 0;
}

int kelvane_host_failure_kind(const char *message) {
    if (!message) return KELVANE_HOST_OTHER_FAILURE;
    if (starts(message, "cannot decode") || starts(message, "failed to write") ||
        starts(message, "image too large"))
        return KELVANE_HOST_FILE_FAILURE;
    if (starts(message, "out of memory") || starts(message, "NULL") || !*message)
        return KELVANE_HOST_OTHER_FAILURE;
    return KELVANE_HOST_ARGUMENT_FAILURE;
}

int kelvane_host_hint(const char *message, const char *in_path, const char *out_path, char *hint,
                      size_t hint_size, char *path, size_t path_size) {
    const struct hint h = {hint, path, hint_size, path_size};
    if (hint_size) hint[0] = '\0';
    if (path_size) path[0] = '\0';
    if (!message || !hint || hint_size == 0) return 0;
    if (out_path && starts(message, "failed to write")) return output_hint(&h, out_path);
    if (in_path && starts(message, "cannot decode")) return input_hint(&h, in_path);
    return 0;
}

/* ---- warnings ------------------------------------------------------------------------------ */

/* ASCII-only, as the library compares extensions. */
static int same_letters(const char *a, const char *b) {
    for (;; ++a, ++b) {
        const char ca = *a >= 'A' && *a <= 'Z' ? (char)(*a - 'A' + 'a') : *a;
        const char cb = *b >= 'A' && *b <= 'Z' ? (char)(*b - 'A' + 'a') : *b;
        if (ca != cb) return 0;
        if (ca == '\0') return 1;
    }
}

int kelvane_host_output_warning(const char *out_path, char *warning, size_t warning_size) {
    const char *dot = strrchr(out_path, '.');
    const char *extension = dot ? dot + 1 : "";
    int i;
    for (i = 0; host_formats[i]; ++i)
        if (same_letters(extension, host_formats[i])) return 0;
    snprintf(warning, warning_size,
             "'%s' gets PNG data (the format follows the name: .png, .jpg, .jpeg or .bmp)",
             out_path);
    return 1;
}

static unsigned read16(const unsigned char *p, int little) {
    return little ? (unsigned)p[0] | (unsigned)p[1] << 8 : (unsigned)p[0] << 8 | p[1];
}

static unsigned long read32(const unsigned char *p, int little) {
    return little ? read16(p, 1) | (unsigned long)read16(p + 2, 1) << 16
                  : (unsigned long)read16(p, 0) << 16 | read16(p + 2, 0);
}

/* The orientation tag of the first directory of an Exif block's TIFF structure; 0 for none. */
static unsigned tiff_orientation(const unsigned char *tiff, size_t size) {
    int little;
    unsigned long first, entry, count;
    if (size < 8 || (memcmp(tiff, "II", 2) != 0 && memcmp(tiff, "MM", 2) != 0)) return 0;
    little = tiff[0] == 'I';
    first = read32(tiff + 4, little);
    if (first > size - 2) return 0;
    count = read16(tiff + first, little);
    for (entry = first + 2; entry + 12 <= size && entry < first + 2 + 12 * count; entry += 12)
        if (read16(tiff + entry, little) == 0x0112 && read16(tiff + entry + 2, little) == 3 &&
            read32(tiff + entry + 4, little) == 1)
            return read16(tiff + entry + 8, little);
    return 0;
}

/* The EXIF orientation of the JPEG whose first `size` bytes are at `p`: 1 to 8, or 0. Reads the
 * markers' headers up to the picture, and the Exif segment. */
static unsigned exif_orientation(const unsigned char *p, size_t size) {
    size_t at = 2;
    if (size < 2 || p[0] != 0xFF || p[1] != 0xD8) return 0;
    while (at + 2 <= size) {
        unsigned code;
        size_t length;
        if (p[at++] != 0xFF) return 0;
        while (at < size && p[at] == 0xFF) ++at; /* fill bytes */
        if (at >= size) return 0;
        code = p[at++];
        if (code == 0xD9 || code == 0xDA) return 0; /* no Exif before the picture */
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8)) continue; /* no segment */
        if (at + 2 > size || read16(p + at, 0) < 2) return 0;
        length = read16(p + at, 0) - 2;
        at += 2;
        if (length > size - at) return 0;
        if (code == 0xE1 && length >= 6 && memcmp(p + at, "Exif\0\0", 6) == 0) {
            const unsigned found = tiff_orientation(p + at + 6, length - 6);
            return found >= 1 && found <= 8 ? found : 0;
        }
        at += length;
    }
    return 0;
}

int kelvane_host_input_warning(const char *in_path, const void *data, size_t size, const char *name,
                               char *warning, size_t warning_size) {
    unsigned char *start = NULL;
    unsigned orientation;
    if (in_path) {
        start = malloc(start_size);
        size = start ? host_read_start(in_path, start, start_size) : 0;
        data = start;
    }
    orientation = data ? exif_orientation(data, size) : 0;
    free(start);
    if (orientation <= 1) return 0;
    if (!name) name = in_path;
    snprintf(warning, warning_size,
             "%s is stored rotated (EXIF orientation %u); the output keeps the stored orientation",
             name && *name ? name : host_bytes_name, orientation);
    return 1;
}

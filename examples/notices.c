#include "notices.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "host_paths.h"

#ifndef _WIN32
#include <sys/statvfs.h>
#include <unistd.h>
#endif

enum { folder_size = 4096 };

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

static int output_hint(const char *out, char *hint, size_t size) {
    char folder[folder_size];
    enum host_path_kind kind;
#ifndef _WIN32
    struct statvfs space;
    int measured;
#endif
    if (!folder_of(out, folder)) return 0;
    kind = host_path_kind(folder);
    if (kind == host_path_missing)
        return snprintf(hint, size, "the folder '%s' does not exist", folder), 1;
    if (kind != host_path_folder) return snprintf(hint, size, "'%s' is not a folder", folder), 1;
    if (host_path_kind(out) == host_path_folder)
        return snprintf(hint, size, "'%s' is a folder", out), 1;
#ifndef _WIN32
    measured = statvfs(folder, &space) == 0;
    if (measured && (space.f_flag & ST_RDONLY))
        return snprintf(hint, size, "'%s' is on a read-only file system", folder), 1;
#endif
    if (!host_folder_writable(folder))
        return snprintf(hint, size, "no permission to write in the folder '%s'", folder), 1;
#ifndef _WIN32
    if (host_path_kind(out) != host_path_missing && access(out, W_OK) != 0)
        return snprintf(hint, size, "no permission to write '%s'", out), 1;
    if (measured && space.f_bavail == 0)
        return snprintf(hint, size, "no space left on the disk that holds '%s'", folder), 1;
#endif
    return 0;
}

static int input_hint(const char *in, char *hint, size_t size) {
    FILE *file;
    const enum host_path_kind kind = host_path_kind(in);
    if (kind == host_path_missing) return snprintf(hint, size, "'%s' does not exist", in), 1;
    if (kind == host_path_folder) return snprintf(hint, size, "'%s' is a folder", in), 1;
    file = host_fopen(in, "rb");
    if (!file && errno == EACCES) return snprintf(hint, size, "no permission to read '%s'", in), 1;
    if (file) fclose(file);
    return 0;
}

int host_hint(const char *message, const char *in, const char *out, char *hint, size_t size) {
    if (out && strncmp(message, "failed to write", 15) == 0) return output_hint(out, hint, size);
    if (in && strncmp(message, "cannot decode", 13) == 0) return input_hint(in, hint, size);
    return 0;
}

/* ASCII-only, as the library compares extensions. */
static int same_letters(const char *a, const char *b) {
    for (;; ++a, ++b) {
        const char ca = *a >= 'A' && *a <= 'Z' ? (char)(*a - 'A' + 'a') : *a;
        const char cb = *b >= 'A' && *b <= 'Z' ? (char)(*b - 'A' + 'a') : *b;
        if (ca != cb) return 0;
        if (ca == '\0') return 1;
    }
}

int host_extension_warning(const char *out, char *warning, size_t size) {
    const char *dot = strrchr(out, '.');
    const char *ext = dot ? dot + 1 : "";
    if (same_letters(ext, "png") || same_letters(ext, "jpg") || same_letters(ext, "jpeg") ||
        same_letters(ext, "bmp"))
        return 0;
    snprintf(warning, size,
             "'%s' gets PNG data (the format follows the name: .png, .jpg, .jpeg or .bmp)", out);
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
    unsigned long first, entry;
    unsigned count;
    if (size < 8 || (memcmp(tiff, "II", 2) != 0 && memcmp(tiff, "MM", 2) != 0)) return 0;
    little = tiff[0] == 'I';
    first = read32(tiff + 4, little);
    if (first + 2 > size) return 0;
    count = read16(tiff + first, little);
    for (entry = first + 2; entry + 12 <= size && entry < first + 2 + 12ul * count; entry += 12)
        if (read16(tiff + entry, little) == 0x0112 && read16(tiff + entry + 2, little) == 3 &&
            read32(tiff + entry + 4, little) == 1)
            return read16(tiff + entry + 8, little);
    return 0;
}

/* The EXIF orientation of the JPEG `file` is reading from its start: 1 to 8, or 0. */
static unsigned exif_orientation(FILE *file) {
    static unsigned char body[65535];
    int code;
    if (fgetc(file) != 0xFF || fgetc(file) != 0xD8) return 0;
    for (;;) {
        size_t length;
        int high, low;
        if (fgetc(file) != 0xFF) return 0;
        while ((code = fgetc(file)) == 0xFF) continue;             /* fill bytes */
        if (code == EOF || code == 0xD9 || code == 0xDA) return 0; /* no Exif before the picture */
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8)) continue; /* no segment */
        high = fgetc(file);
        low = fgetc(file);
        if (high == EOF || low == EOF || (high << 8 | low) < 2) return 0;
        length = (size_t)(high << 8 | low) - 2;
        if (code != 0xE1) {
            if (fseek(file, (long)length, SEEK_CUR) != 0) return 0;
            continue;
        }
        if (fread(body, 1, length, file) != length) return 0;
        if (length >= 6 && memcmp(body, "Exif\0\0", 6) == 0) {
            const unsigned found = tiff_orientation(body + 6, length - 6);
            return found >= 1 && found <= 8 ? found : 0;
        }
    }
}

int host_orientation_warning(const char *in, char *warning, size_t size) {
    FILE *file;
    unsigned orientation;
    if (!host_regular_file(in)) return 0; /* a pipe's bytes are the job's alone */
    file = host_fopen(in, "rb");
    if (!file) return 0;
    orientation = exif_orientation(file);
    fclose(file);
    if (orientation <= 1) return 0;
    snprintf(warning, size,
             "%s is stored rotated (EXIF orientation %u); the output keeps the stored orientation",
             in, orientation);
    return 1;
}

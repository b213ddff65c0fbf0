/* What the file system shows of a path, on Windows: the wide API for UTF-8 names (as the library
 * takes them), no links, and the free space of the disk. */
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include "host.h"

/* The UTF-16 form of `path` (malloc'd): UTF-8 where it is valid, else the ANSI code page. */
static wchar_t *wide(const char *path) {
    UINT page = CP_UTF8;
    int units = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, path, -1, NULL, 0);
    wchar_t *result;
    if (units <= 0) units = MultiByteToWideChar(page = CP_ACP, 0, path, -1, NULL, 0);
    result = units > 0 ? malloc(sizeof(wchar_t) * (size_t)units) : NULL;
    if (result && MultiByteToWideChar(page, 0, path, -1, result, units) != units) {
        free(result);
        result = NULL;
    }
    return result;
}

void host_look(const char *path, struct host_facts *facts) {
    struct _stat64 st;
    wchar_t *name = wide(path);
    ULARGE_INTEGER free_bytes;
    memset(facts, 0, sizeof *facts);
    if (!name || _wstat64(name, &st) != 0) {
        facts->kind = facts->target = name ? host_missing : host_unknown;
        free(name);
        return;
    }
    facts->kind = facts->target = (st.st_mode & _S_IFMT) == _S_IFDIR   ? host_folder
                                  : (st.st_mode & _S_IFMT) == _S_IFREG ? host_file
                                  : (st.st_mode & _S_IFMT) == _S_IFCHR ? host_device
                                                                       : host_other;
    facts->readable = _waccess(name, 4) == 0;
    facts->writable = _waccess(name, 2) == 0;
    facts->searchable = facts->kind == host_folder;
    facts->full = facts->kind == host_folder &&
                  GetDiskFreeSpaceExW(name, &free_bytes, NULL, NULL) && free_bytes.QuadPart == 0;
    free(name);
}

size_t host_read_start(const char *path, unsigned char *buffer, size_t size) {
    struct _stat64 st;
    wchar_t *name = wide(path);
    FILE *file = name && _wstat64(name, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG
                     ? _wfopen(name, L"rb")
                     : NULL;
    const size_t got = file ? fread(buffer, 1, size, file) : 0;
    if (file) fclose(file);
    free(name);
    return got;
}

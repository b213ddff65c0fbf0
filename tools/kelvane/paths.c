#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* mkdtemp */
#endif
#include "paths.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
/* shellapi.h needs what windows.h declares. */
/* clang-format off */
#include <windows.h>
#include <shellapi.h>
/* clang-format on */

/* The UTF-16 form of UTF-8 `text` (malloc'd), or NULL. */
static wchar_t *wide(const char *text) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0);
    wchar_t *result = units > 0 ? malloc(sizeof(wchar_t) * (size_t)units) : NULL;
    if (result && MultiByteToWideChar(CP_UTF8, 0, text, -1, result, units) != units) {
        free(result);
        result = NULL;
    }
    return result;
}

/* The UTF-8 form of UTF-16 `text` (malloc'd), or NULL. */
static char *narrow(const wchar_t *text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *result = bytes > 0 ? malloc((size_t)bytes) : NULL;
    if (result && WideCharToMultiByte(CP_UTF8, 0, text, -1, result, bytes, NULL, NULL) != bytes) {
        free(result);
        result = NULL;
    }
    return result;
}

char **tool_utf8_arguments(int argc, char **argv) {
    int count = 0, i;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    char **result = arguments && count == argc ? calloc((size_t)count + 1, sizeof *result) : NULL;
    for (i = 0; result && i < count; ++i)
        if (!(result[i] = narrow(arguments[i]))) result = NULL; /* the rest stays: the host exits */
    if (arguments) LocalFree(arguments);
    return result ? result : argv;
}

FILE *tool_fopen(const char *path, const char *mode) {
    wchar_t *wide_path = wide(path), *wide_mode = wide(mode);
    FILE *file = wide_path && wide_mode ? _wfopen(wide_path, wide_mode) : NULL;
    free(wide_path);
    free(wide_mode);
    return file;
}

int tool_remove(const char *path) {
    wchar_t *wide_path = wide(path);
    const int result = wide_path ? _wremove(wide_path) : -1;
    free(wide_path);
    return result;
}

enum tool_path_kind tool_path_kind(const char *path) {
    struct _stat64 st;
    wchar_t *wide_path = wide(path);
    const int found = wide_path && _wstat64(wide_path, &st) == 0;
    free(wide_path);
    if (!found) return tool_path_missing;
    return (st.st_mode & _S_IFMT) == _S_IFDIR ? tool_path_folder : tool_path_other;
}

int tool_regular_file(const char *path) {
    struct _stat64 st;
    wchar_t *wide_path = wide(path);
    const int found = wide_path && _wstat64(wide_path, &st) == 0;
    free(wide_path);
    return found && (st.st_mode & _S_IFMT) == _S_IFREG;
}

int tool_folder_writable(const char *path) {
    wchar_t *wide_path = wide(path);
    const int writable = wide_path && _waccess(wide_path, 2) == 0;
    free(wide_path);
    return writable;
}

int tool_make_folder(const char *path) {
    wchar_t *wide_path = wide(path);
    const int result = wide_path ? _wmkdir(wide_path) : (errno = ENOMEM, -1);
    free(wide_path);
    return result;
}

int tool_remove_folder(const char *path) {
    wchar_t *wide_path = wide(path);
    const int result = wide_path ? _wrmdir(wide_path) : -1;
    free(wide_path);
    return result;
}

int tool_make_scratch_folder(char *folder, size_t size) {
    wchar_t *name = _wtempnam(NULL, L"kelvane-");
    char *utf8 = name ? narrow(name) : NULL;
    const int made = utf8 && strlen(utf8) < size && _wmkdir(name) == 0;
    if (made) strcpy(folder, utf8);
    free(name);
    free(utf8);
    return made;
}

#else
#include <unistd.h>

char **tool_utf8_arguments(int argc, char **argv) {
    (void)argc;
    return argv;
}

FILE *tool_fopen(const char *path, const char *mode) { return fopen(path, mode); }

int tool_remove(const char *path) { return remove(path); }

enum tool_path_kind tool_path_kind(const char *path) {
    struct stat st;
    if (stat(path, &st) != 0) return tool_path_missing;
    return S_ISDIR(st.st_mode) ? tool_path_folder : tool_path_other;
}

int tool_regular_file(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

int tool_folder_writable(const char *path) { return access(path, W_OK) == 0; }

int tool_make_folder(const char *path) { return mkdir(path, 0777); }

int tool_remove_folder(const char *path) { return rmdir(path); }

int tool_make_scratch_folder(char *folder, size_t size) {
    const char *tmp = getenv("TMPDIR");
    snprintf(folder, size, "%s/kelvane-XXXXXX", tmp && *tmp ? tmp : "/tmp");
    return mkdtemp(folder) != NULL;
}
#endif

/* Paths as the hosts hand them to the library: UTF-8 everywhere. On Windows the arguments are
 * taken from the UTF-16 command line and the hosts' own file calls go through the wide API, so
 * that a name in any script works whatever the user's code page; elsewhere these are the plain
 * C and POSIX calls. */
#ifndef TOOL_PATHS_H
#define TOOL_PATHS_H

#include <stdio.h>

/* The program's arguments as UTF-8 (on Windows from the UTF-16 command line; argv elsewhere). */
char **tool_utf8_arguments(int argc, char **argv);

FILE *tool_fopen(const char *path, const char *mode);
int tool_remove(const char *path);

enum tool_path_kind { tool_path_missing, tool_path_folder, tool_path_other };
enum tool_path_kind tool_path_kind(const char *path);
/* Whether `path` is a regular file (links followed). */
int tool_regular_file(const char *path);
/* Whether new files may be made in the folder `path`. */
int tool_folder_writable(const char *path);
/* 0 when the folder was made, -1 (errno set) otherwise. */
int tool_make_folder(const char *path);
int tool_remove_folder(const char *path);
/* A new private folder for scratch files, its path written into `folder`; 0 when none. */
int tool_make_scratch_folder(char *folder, size_t size);

#endif

#ifndef _WIN32
#define _XOPEN_SOURCE 700 /* mkdtemp, kill */
#endif
#include "streams.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

void remove_left_overs(void) {}

/* Windows: both streams go through files of a scratch folder made for this run. */
static int scratch_folder(struct streams *s) {
    s->own_folder = 1;
    return tool_make_scratch_folder(s->folder, sizeof s->folder);
}

static const char *identity(void) { return "0"; }

#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

/* This process and its start (in clock ticks since boot), which no later process shares. */
static const char *process_of(long pid, char *into, size_t size) {
    char path[64], text[1024];
    const char *rest;
    size_t n;
    FILE *stat_file;
    unsigned long long start = 0;
    int field;
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    if ((stat_file = fopen(path, "r")) != NULL) {
        n = fread(text, 1, sizeof text - 1, stat_file);
        fclose(stat_file);
        text[n] = '\0';
        rest = strrchr(text, ')');
        for (field = 2; rest && field < 22; ++field) rest = strchr(rest + 1, ' ');
        if (rest) start = strtoull(rest + 1, NULL, 10);
    }
    snprintf(into, size, "%ld-%llu", pid, start);
    return into;
}

static const char *identity(void) {
    static char own[64];
    return *own ? own : process_of((long)getpid(), own, sizeof own);
}

/* The tool's private folder: made for this user alone, or found so (a folder, the user's, open
 * to no one else); where another has taken its name, a folder of this run's own. */
static int scratch_folder(struct streams *s) {
    const char *tmp = getenv("TMPDIR");
    struct stat st;
    snprintf(s->folder, sizeof s->folder, "%s/kelvane-%lu", tmp && *tmp ? tmp : "/tmp",
             (unsigned long)geteuid());
    if (mkdir(s->folder, 0700) == 0 ||
        (errno == EEXIST && lstat(s->folder, &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == geteuid() && (st.st_mode & 077) == 0))
        return 1;
    s->own_folder = 1;
    return tool_make_scratch_folder(s->folder, sizeof s->folder);
}

/* Whether the process a scratch file is named after ("stdout-PID-START.png") no longer runs. */
static int left_over(const char *name) {
    char own[64];
    const char *id = strncmp(name, "stdout-", 7) == 0  ? name + 7
                     : strncmp(name, "stdin-", 6) == 0 ? name + 6
                                                       : NULL;
    const long pid = id ? strtol(id, NULL, 10) : 0;
    size_t length;
    if (pid <= 0) return 0;
    if (kill((pid_t)pid, 0) != 0 && errno == ESRCH) return 1;
    length = strlen(process_of(pid, own, sizeof own)); /* a later process of that number */
    return strncmp(id, own, length) != 0 || (id[length] != '.' && id[length] != '\0');
}

void remove_left_overs(void) {
    struct streams s;
    struct dirent *entry;
    DIR *folder;
    memset(&s, 0, sizeof s);
    if (!scratch_folder(&s) || s.own_folder) {
        if (s.own_folder) rmdir(s.folder);
        return;
    }
    if (!(folder = opendir(s.folder))) return;
    while ((entry = readdir(folder)) != NULL)
        if (left_over(entry->d_name)) {
            char path[sizeof s.folder + 256];
            snprintf(path, sizeof path, "%s/%s", s.folder, entry->d_name);
            unlink(path);
        }
    closedir(folder);
}
#endif

int open_streams(struct kelvane_host_job *job, const char *format, struct streams *s, char *why,
                 size_t size) {
    const int from_stdin = strcmp(job->in_path, "-") == 0,
              to_stdout = strcmp(job->out_path, "-") == 0;
    memset(s, 0, sizeof *s);
    if (!from_stdin && !to_stdout) return 1;
    if (!scratch_folder(s))
        return snprintf(why, size, "cannot make a temporary folder: %s", strerror(errno)), 0;
    snprintf(s->in_file, sizeof s->in_file, "%s/stdin-%s", s->folder, identity());
    snprintf(s->out_file, sizeof s->out_file, "%s/stdout-%s.%s", s->folder, identity(),
             format ? format : kelvane_host_format(0));
    s->scratch[0] = to_stdout ? s->out_file : NULL;
    if (to_stdout) job->out_path = s->out_file;
#ifdef _WIN32
    if (from_stdin) {
        FILE *copy = tool_fopen(s->in_file, "wb");
        char buffer[1 << 16];
        size_t n;
        int ok = copy != NULL;
        _setmode(_fileno(stdin), _O_BINARY);
        while (ok && (n = fread(buffer, 1, sizeof buffer, stdin)) > 0)
            ok = fwrite(buffer, 1, n, copy) == n;
        ok = copy && fclose(copy) == 0 && ok && !ferror(stdin);
        if (!ok) return snprintf(why, size, "cannot read standard input"), 0;
        job->in_path = s->in_file;
    }
#else
    if (from_stdin) job->in_path = "/dev/stdin";
    *s->in_file = '\0';
#endif
    return 1;
}

int deliver_output(struct streams *s) {
    FILE *file = tool_fopen(s->out_file, "rb");
    char buffer[1 << 16];
    size_t n;
    int ok = file != NULL;
#ifndef _WIN32
    unlink(s->out_file); /* from now on, nothing of it can be left behind */
#else
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    s->scratch[0] = NULL;
    while (ok && (n = fread(buffer, 1, sizeof buffer, file)) > 0)
        ok = fwrite(buffer, 1, n, stdout) == n;
    ok = ok && !ferror(file) && fflush(stdout) == 0;
    if (file) fclose(file);
    tool_remove(s->out_file);
    return ok;
}

void close_streams(struct streams *s) {
    if (*s->out_file) tool_remove(s->out_file);
    if (*s->in_file) tool_remove(s->in_file);
    if (s->own_folder) tool_remove_folder(s->folder);
}

/* kelvane: the library's operations from the shell.
 *
 *   kelvane [--format png|jpg|bmp] OPERATION IN OUT NUMBERS...
 *   kelvane batch [-j N] [--keep-going] LIST
 *   kelvane --version | --help | help
 *
 * IN and OUT may be '-', standard input and output (then --format says what to write). Exit
 * status 0 when the output was written, 1 with the library's message on standard error when
 * the library refused the job (or a batch job failed), 2 for a usage error. */
#include <ctype.h>
#include <kelvane.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "batch.h"
#include "interrupts.h"
#include "kelvane_host.h"
#include "paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define binary_stream(stream) _setmode(_fileno(stream), _O_BINARY)
#else
#define binary_stream(stream) ((void)(stream))
#endif

enum { path_size = 4096 };

static void usage(FILE *to) {
    int i;
    fprintf(to,
            "usage: kelvane [--format png|jpg|bmp] OPERATION IN OUT NUMBERS...\n"
            "       kelvane batch [-j N] [--keep-going] LIST\n"
            "       kelvane --version | --help\n\noperations:\n");
    for (i = 0; i < kelvane_host_operation_count(); ++i) {
        char names[128] = "";
        int k;
        for (k = 0; k < kelvane_host_number_count(i); ++k) {
            const char *name = kelvane_host_number_name(i, k);
            size_t at = strlen(names);
            if (k) names[at++] = ' ';
            for (; *name && at + 1 < sizeof names; ++name) names[at++] = (char)toupper(*name);
            names[at] = '\0';
        }
        fprintf(to, "  %-8s IN OUT %-28s %s\n", kelvane_host_operation_name(i), names,
                kelvane_host_operation_summary(i));
    }
    fprintf(
        to,
        "\nIN is any picture stb_image reads; OUT is written as JPEG (.jpg, .jpeg), BMP (.bmp)\n"
        "or PNG (any other name). R G B take their low 8 bits. '-' as IN reads standard input;\n"
        "'-' as OUT writes standard output, in the format --format names.\n"
        "\nbatch runs the jobs of LIST ('-': standard input), one a line as written after\n"
        "'kelvane' above, in N processes at a time (default: one per processor). It stops at the\n"
        "first failure unless --keep-going.\n"
        "\nexample:\n  kelvane shadow photo.jpg framed.png 10 10 20 0 0 0\n");
}

static int usage_error(const char *what, const char *detail) {
    fprintf(stderr, "kelvane: %s%s (try --help)\n", what, detail);
    return 2;
}

/* Says `text` on standard error after "kelvane: " and `what`, when `said` is 1. */
static void say(int said, const char *what, const char *text) {
    if (said) fprintf(stderr, "kelvane: %s%s\n", what, text);
}

/* Copies everything from `from` to `to`; 0 on a read or write error. */
static int copy_stream(FILE *from, FILE *to) {
    char buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, from)) > 0)
        if (fwrite(buffer, 1, n, to) != n) return 0;
    return !ferror(from) && fflush(to) == 0;
}

static int copy_file(const char *from, const char *to, int from_stdin) {
    FILE *in = from_stdin ? stdin : tool_fopen(from, "rb");
    FILE *out = to ? tool_fopen(to, "wb") : stdout;
    int ok = in && out && copy_stream(in, out);
    if (in && in != stdin) fclose(in);
    if (out && out != stdout) ok = fclose(out) == 0 && ok;
    return ok;
}

/* Runs one job; `format` is NULL or the format to write to standard output. */
static int run_job(const struct kelvane_host_job *job, const char *format) {
    /* Static: a second signal may remove them while the process ends. */
    static char scratch[path_size], in_file[path_size + 16], out_file[path_size + 16];
    static const char *scratch_files[3];
    char note[path_size + 256], message[KELVANE_HOST_TEXT_SIZE];
    const char *in = job->in_path, *out = job->out_path;
    const int from_stdin = strcmp(in, "-") == 0, to_stdout = strcmp(out, "-") == 0;
    int ok;
    if (to_stdout && !format) return usage_error("'-' as OUT needs --format png, jpg or bmp", "");
    if (!to_stdout && format)
        return usage_error("--format is for '-' as OUT (a file's format follows its name)", "");
    if ((from_stdin || to_stdout) && !tool_make_scratch_folder(scratch, path_size)) {
        fprintf(stderr, "kelvane: cannot make a temporary folder\n");
        return 1;
    }
    snprintf(in_file, sizeof in_file, "%s/stdin", scratch);
    snprintf(out_file, sizeof out_file, "%s/stdout.%s", scratch, format ? format : "png");
#ifdef _WIN32
    /* Standard input goes through a file: Windows has no path for it. */
    if (from_stdin) {
        binary_stream(stdin);
        if (!copy_file(NULL, in_file, 1)) {
            fprintf(stderr, "kelvane: cannot read standard input\n");
            tool_remove(in_file);
            tool_remove_folder(scratch);
            return 1;
        }
    }
#else
    if (from_stdin) snprintf(in_file, sizeof in_file, "/dev/stdin");
#endif
    if (!to_stdout) say(kelvane_host_output_warning(out, note, sizeof note), "warning: ", note);
    if (!from_stdin)
        say(kelvane_host_input_warning(in, NULL, 0, NULL, note, sizeof note), "warning: ", note);
    if (*scratch) { /* standard output's file, then its folder */
        scratch_files[0] = out_file;
        scratch_files[1] = scratch;
    }
    tool_catch_interrupts(scratch_files);
    ok = kelvane_host_run(job->operation, from_stdin ? in_file : in, to_stdout ? out_file : out,
                          job->numbers, from_stdin ? "-" : NULL, to_stdout ? "-" : NULL, message,
                          sizeof message);
    if (ok && to_stdout) {
        binary_stream(stdout);
        if (!copy_file(out_file, NULL, 0)) {
            fprintf(stderr, "kelvane: cannot write standard output\n");
            ok = -1;
        }
    }
    if (ok == 0) {
        fprintf(stderr, "kelvane: %s\n", message);
        say(kelvane_host_hint(message, from_stdin ? NULL : in, to_stdout ? NULL : out, note,
                              sizeof note, NULL, 0) != 0,
            "", note);
    }
    if (*scratch) {
        tool_remove(out_file);
        if (strcmp(in_file, "/dev/stdin") != 0) tool_remove(in_file);
        tool_remove_folder(scratch);
    }
    if (tool_interrupted()) {
        fprintf(stderr, "kelvane: interrupted\n");
        return tool_interrupted_status();
    }
    return ok == 1 ? 0 : 1;
}

static int batch(int argc, char **argv) {
    int workers = tool_processors(), keep_going = 0, i;
    const char *list = NULL;
    for (i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--keep-going") == 0) {
            keep_going = 1;
        } else if (strncmp(argv[i], "-j", 2) == 0) { /* -j N or -jN */
            const char *n = argv[i][2] ? argv[i] + 2 : i + 1 < argc ? argv[++i] : "";
            char *end;
            const long parsed = strtol(n, &end, 10);
            workers = *n && !*end && parsed >= 1 && parsed <= 4096 ? (int)parsed : 0;
            if (workers < 1) return usage_error("-j takes a number of processes, 1 or more: ", n);
        } else if (!list) {
            list = argv[i];
        } else {
            return usage_error("batch takes one LIST; unexpected ", argv[i]);
        }
    }
    if (!list) return usage_error("batch needs a LIST of jobs ('-': standard input)", "");
    return tool_batch(list, workers, keep_going);
}

static int run(int argc, char **argv) {
    const char *words[3 + KELVANE_HOST_MAX_NUMBERS];
    const char *format = NULL;
    struct kelvane_host_job job;
    int count = 0, i;
    char why[KELVANE_HOST_TEXT_SIZE];
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
                      strcmp(argv[1], "help") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc == 2 && (strcmp(argv[1], "--version") == 0 || strcmp(argv[1], "-V") == 0)) {
        printf("kelvane %d.%d.%d (tarnwick-kelvane, MIT licence)\n", KELVANE_VERSION_MAJOR,
               KELVANE_VERSION_MINOR, KELVANE_VERSION_PATCH);
        return 0;
    }
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (strcmp(argv[1], "batch") == 0) return batch(argc, argv);
    for (i = 1; i < argc; ++i) {
        if ((strcmp(argv[i], "--format") == 0 && i + 1 < argc) ||
            strncmp(argv[i], "--format=", 9) == 0) { /* --format FMT or --format=FMT */
            format = argv[i][8] == '=' ? argv[i] + 9 : argv[++i];
            if (strcmp(format, "png") != 0 && strcmp(format, "jpg") != 0 &&
                strcmp(format, "bmp") != 0)
                return usage_error("--format takes png, jpg or bmp, not ", format);
        } else if (count < 3 + KELVANE_HOST_MAX_NUMBERS) {
            words[count++] = argv[i];
        } else {
            return usage_error("too many arguments", "");
        }
    }
    if (!kelvane_host_read_words(words, count, KELVANE_HOST_STREAMS, &job, why, sizeof why)) {
        fprintf(stderr, "kelvane: %s (try --help)\n", why);
        return 2;
    }
    return run_job(&job, format);
}

int main(int argc, char **argv) { return run(argc, tool_utf8_arguments(argc, argv)); }

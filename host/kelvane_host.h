/* kelvane_host.h: what a job is for every front end of tarnwick-kelvane (the command-line tool,
 * the Python binding, the JavaScript package), written once over the library's own interface:
 * the operations and their numbers, the job lines of a list, the hint that may follow a failure,
 * the warnings that precede a job, and how a message names a picture given in memory. A front
 * end adds only what its language needs.
 *
 * Texts are NUL-terminated bytes (paths as the library takes them). Functions that write a text
 * take its buffer and size and cut it to fit, always NUL-terminated; KELVANE_HOST_TEXT_SIZE holds
 * every message, hint and warning but for the paths in them. Nothing here is thread-safe beyond
 * what the library is: calls that run a job or check numbers must not overlap. */
#ifndef KELVANE_HOST_H
#define KELVANE_HOST_H

#include <stddef.h>

#if defined(_WIN32) && defined(KELVANE_HOST_BUILD)
#define KELVANE_HOST_API __declspec(dllexport)
#elif defined(_WIN32) && !defined(KELVANE_HOST_STATIC)
#define KELVANE_HOST_API __declspec(dllimport)
#elif defined(_WIN32)
#define KELVANE_HOST_API
#else
#define KELVANE_HOST_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KELVANE_HOST_MAX_NUMBERS = 7, /* the most numbers an operation takes */
    KELVANE_HOST_TEXT_SIZE = 1024 /* a message's size (the library's are at most 511 bytes) */
};

/* ---- the operations --------------------------------------------------------------------- */

/* How many operations there are; they are numbered from 0. */
KELVANE_HOST_API int kelvane_host_operation_count(void);
/* The number of the operation called `name`, or -1. */
KELVANE_HOST_API int kelvane_host_find_operation(const char *name);
/* The operation's name, or NULL for a number that names none. */
KELVANE_HOST_API const char *kelvane_host_operation_name(int operation);
/* What it does, in a line (for a usage text). */
KELVANE_HOST_API const char *kelvane_host_operation_summary(int operation);
/* How many numbers it takes (after its two paths), and the name of each ("border", "r"). */
KELVANE_HOST_API int kelvane_host_number_count(int operation);
KELVANE_HOST_API const char *kelvane_host_number_name(int operation, int index);
/* The option of a front end that gives the number (several numbers may share one: "color"). */
KELVANE_HOST_API const char *kelvane_host_number_option(int operation, int index);
/* A value of the number that shows what it does, for a usage text or a page. */
KELVANE_HOST_API int kelvane_host_number_example(int operation, int index);
/* Whether the number has a default, and which into *value; 0 when it is required. */
KELVANE_HOST_API int kelvane_host_number_default(int operation, int index, int *value);
/* The formats a result can be named for: "png" (the default), "jpg", "jpeg", "bmp"; NULL past
 * the last. */
KELVANE_HOST_API const char *kelvane_host_format(int index);
/* Every operation with its numbers (names, the option of a front end that gives each, default,
 * the range the library takes them in as they are), the formats a result in memory can have and
 * the name of a picture given in memory, as JSON: what the front ends build their interfaces and
 * their type declarations from. Owned by the host library. */
KELVANE_HOST_API const char *kelvane_host_table(void);

/* ---- numbers and job lines -------------------------------------------------------------- */

/* Reads `text` as the operation's number `index`: a whole number as C's strtol reads one
 * (blanks before it, a sign), in the int range. 1, or 0 with why into `why`. */
KELVANE_HOST_API int kelvane_host_read_number(int operation, int index, const char *text,
                                              int *value, char *why, size_t why_size);
/* Whether the library takes these numbers for the operation (asked of the library itself, which
 * checks its numbers before it opens a file): 1, or 0 with its words into `why`. */
KELVANE_HOST_API int kelvane_host_check_numbers(int operation, const int *numbers, char *why,
                                                size_t why_size);

/* One job: the operation, the two paths and its numbers. */
struct kelvane_host_job {
    int operation;
    const char *in_path, *out_path;
    int numbers[KELVANE_HOST_MAX_NUMBERS];
};
enum { KELVANE_HOST_STREAMS = 1 }; /* '-' may stand for standard input or output */

/* Makes a job of `count` words (the operation's name, IN, OUT and its numbers as text): 1, with
 * the paths pointing into `words`; or 0 with why into `why`. A '-' path is refused unless
 * `flags` holds KELVANE_HOST_STREAMS. */
KELVANE_HOST_API int kelvane_host_read_words(const char *const *words, int count, int flags,
                                             struct kelvane_host_job *job, char *why,
                                             size_t why_size);

/* A job list: the jobs of its good lines, and one problem ("line N: why") for each bad one. */
typedef struct kelvane_host_jobs kelvane_host_jobs;

/* Reads the `size` bytes of a job list: one job a line (lines end in LF or CRLF), its words
 * split as a shell splits them (blanks between words, '...' and "..." quote, a backslash escapes
 * " and \ within double quotes and any character outside quotes), a word that starts with '#'
 * beginning a comment; blank lines are skipped, and a NUL byte makes a line bad. NULL when memory
 * ran short. */
KELVANE_HOST_API kelvane_host_jobs *kelvane_host_read_jobs(const char *text, size_t size);
/* An empty list, to which a front end adds lines and jobs of words (one line each). */
KELVANE_HOST_API kelvane_host_jobs *kelvane_host_new_jobs(void);
KELVANE_HOST_API int kelvane_host_add_line(kelvane_host_jobs *jobs, const char *text, size_t size);
KELVANE_HOST_API int kelvane_host_add_words(kelvane_host_jobs *jobs, const char *const *words,
                                            int count);
KELVANE_HOST_API void kelvane_host_free_jobs(kelvane_host_jobs *jobs);

KELVANE_HOST_API int kelvane_host_job_count(const kelvane_host_jobs *jobs);
/* The i-th job, or NULL; its line in the list (1 for the first) into *line when not NULL. */
KELVANE_HOST_API const struct kelvane_host_job *kelvane_host_job(const kelvane_host_jobs *jobs,
                                                                 int i, int *line);
KELVANE_HOST_API int kelvane_host_problem_count(const kelvane_host_jobs *jobs);
KELVANE_HOST_API const char *kelvane_host_problem(const kelvane_host_jobs *jobs, int i);

/* ---- running a job ---------------------------------------------------------------------- */

/* Runs the operation through the library and returns its result (1 or 0). After a failure its
 * message goes into `message`, with a path given in memory named as the caller gave the picture:
 * `in_name` (`out_name`) names the file at `in_path` (`out_path`) when that file stands for a
 * picture in memory (an empty name: "<bytes>"); NULL where the path is the caller's own. */
KELVANE_HOST_API int kelvane_host_run(int operation, const char *in_path, const char *out_path,
                                      const int *numbers, const char *in_name, const char *out_name,
                                      char *message, size_t message_size);

/* What a failure's message is about: KELVANE_HOST_FILE_FAILURE (a file could not be read,
 * decoded or written), KELVANE_HOST_ARGUMENT_FAILURE (numbers the library refuses: a negative
 * width, a canvas too large) or KELVANE_HOST_OTHER_FAILURE (out of memory, a NULL path). */
enum { KELVANE_HOST_OTHER_FAILURE, KELVANE_HOST_FILE_FAILURE, KELVANE_HOST_ARGUMENT_FAILURE };
KELVANE_HOST_API int kelvane_host_failure_kind(const char *message);

/* ---- hints and warnings ----------------------------------------------------------------- */

/* The likely cause of the library's failure `message` for a job on these paths (NULL for a
 * picture in memory or a standard stream), from what the file system shows of them (looked at,
 * never opened): 0 when it shows nothing that explains the failure. Else the hint goes into
 * `hint`, the path it is about into `path` (when not NULL), and the result is the system's errno
 * for that cause (ENOENT, ENOTDIR, EISDIR, EACCES, EROFS, ENOSPC), or -1 for a cause without one
 * (a FIFO, a device). */
KELVANE_HOST_API int kelvane_host_hint(const char *message, const char *in_path,
                                       const char *out_path, char *hint, size_t hint_size,
                                       char *path, size_t path_size);

/* The warning for an output named `out_path` (written to a file): 1 when the name ends in no
 * format's extension, which gets PNG, with the warning into `warning`; else 0. */
KELVANE_HOST_API int kelvane_host_output_warning(const char *out_path, char *warning,
                                                 size_t warning_size);
/* The warning for an input, before the job: 1 for a JPEG stored rotated (an EXIF orientation
 * other than 1), whose pixels the library keeps as stored, with the warning into `warning`; else
 * 0. Read from the file at `in_path` when it is a regular file now (a FIFO, a device or standard
 * input is never read twice), or from the `size` bytes at `data` when `in_path` is NULL. `name`
 * is what the warning calls the picture (NULL: `in_path`; an empty name: "<bytes>"). */
KELVANE_HOST_API int kelvane_host_input_warning(const char *in_path, const void *data, size_t size,
                                                const char *name, char *warning,
                                                size_t warning_size);

#ifdef __cplusplus
}
#endif

#endif /* KELVANE_HOST_H */

#include "batch.h"

#include <errno.h>
#include <kelvane.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_paths.h"
#include "interrupts.h"
#include "notices.h"
#include "operations.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define is_terminal(stream) _isatty(_fileno(stream))
#else
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#define is_terminal(stream) isatty(fileno(stream))
#endif

enum { max_words = 16, message_size = 1024 };

struct job {
    int line;
    int first_of_input; /* no earlier line reads the same input */
    const struct host_operation *op;
    char *words[max_words]; /* into the line's own text */
    char *text;
    int numbers[host_max_numbers];
};

struct tally {
    size_t total, done, failed;
    double started;
    int progress; /* standard error is a terminal */
};

static double seconds_now(void) {
#ifdef _WIN32
    return (double)GetTickCount64() / 1000.0;
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
#endif
}

int host_processors(void) {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? (int)info.dwNumberOfProcessors : 1;
#else
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
#endif
}

/* One line of `file` without its line end, malloc'd; NULL at the end of the file. */
static char *read_line(FILE *file) {
    size_t size = 0, capacity = 128;
    char *line = malloc(capacity);
    int c;
    if (!line) return NULL;
    while ((c = fgetc(file)) != EOF && c != '\n') {
        if (size + 1 == capacity) {
            char *grown = realloc(line, capacity *= 2);
            if (!grown) break;
            line = grown;
        }
        line[size++] = (char)c;
    }
    if (c == EOF && size == 0) {
        free(line);
        return NULL;
    }
    if (size > 0 && line[size - 1] == '\r') --size;
    line[size] = '\0';
    return line;
}

/* Splits `text` into words in place, as a shell would: blanks separate words, '...' and "..."
 * quote (a backslash escapes " and \ within double quotes and any character outside quotes),
 * and a word that starts with '#' begins a comment. Returns the number of words, or -1 with
 * the reason in `why`. */
static int split_words(char *text, char **words, char *why, size_t why_size) {
    char *in = text, *out = text;
    int count = 0;
    for (;;) {
        while (*in == ' ' || *in == '\t') ++in;
        if (*in == '\0' || *in == '#') return count;
        if (count == max_words) {
            snprintf(why, why_size, "more than %d words", max_words);
            return -1;
        }
        words[count++] = out;
        while (*in != '\0' && *in != ' ' && *in != '\t') {
            if (*in == '\'' || *in == '"') {
                const char quote = *in++;
                while (*in != quote) {
                    if (*in == '\0') {
                        snprintf(why, why_size, "a %c quote is not closed", quote);
                        return -1;
                    }
                    if (quote == '"' && *in == '\\' && (in[1] == '"' || in[1] == '\\')) ++in;
                    *out++ = *in++;
                }
                ++in;
            } else {
                if (*in == '\\' && in[1] != '\0') ++in;
                *out++ = *in++;
            }
        }
        if (*in != '\0') ++in;
        *out++ = '\0';
    }
}

/* Reads and checks the line; 1 for a job, 0 for a blank or comment line, -1 when malformed
 * (the reason printed). */
static int parse_job(char *text, int line, struct job *job) {
    char why[message_size];
    const int count = split_words(text, job->words, why, sizeof why);
    job->line = line;
    job->text = text;
    if (count == 0) return 0;
    if (count < 0) goto malformed;
    job->op = host_find_operation(job->words[0]);
    if (!job->op) {
        snprintf(why, sizeof why, "unknown operation '%s'", job->words[0]);
        goto malformed;
    }
    if (count != 3 + job->op->count) {
        snprintf(why, sizeof why, "%s takes IN OUT %s", job->op->name, job->op->numbers);
        goto malformed;
    }
    if (strcmp(job->words[1], "-") == 0 || strcmp(job->words[2], "-") == 0) {
        snprintf(why, sizeof why, "'-' (standard input or output) has no place in a batch");
        goto malformed;
    }
    if (!host_parse_numbers(job->op, job->words + 3, job->numbers, why, sizeof why)) goto malformed;
    return 1;
malformed:
    fprintf(stderr, "line %d: %s\n", line, why);
    return -1;
}

static int by_input_then_line(const void *a, const void *b) {
    const struct job *x = *(const struct job *const *)a, *y = *(const struct job *const *)b;
    const int order = strcmp(x->words[1], y->words[1]);
    return order ? order : x->line - y->line;
}

/* Marks the first job of each input, which says what there is to say about the input, once. */
static void mark_first_inputs(struct job *jobs, size_t count) {
    struct job **order = malloc(count * sizeof *order);
    size_t i;
    for (i = 0; i < count; ++i) jobs[i].first_of_input = order == NULL;
    if (!order) return;
    for (i = 0; i < count; ++i) order[i] = &jobs[i];
    qsort(order, count, sizeof *order, by_input_then_line);
    for (i = 0; i < count; ++i)
        order[i]->first_of_input = i == 0 || strcmp(order[i - 1]->words[1], order[i]->words[1]);
    free(order);
}

/* Every job of the list, or NULL (with *status 2) when it cannot be read or a line is
 * malformed. */
static struct job *read_jobs(const char *path, size_t *count, int *status) {
    FILE *file = strcmp(path, "-") == 0 ? stdin : host_fopen(path, "r");
    struct job *jobs = NULL;
    size_t capacity = 0;
    int line = 0, malformed = 0;
    char *text;
    *count = 0;
    *status = 2;
    if (!file) {
        fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
        return NULL;
    }
    while ((text = read_line(file)) != NULL) {
        struct job job;
        const int parsed = parse_job(text, ++line, &job);
        if (parsed != 1) {
            malformed |= parsed < 0;
            free(text);
            continue;
        }
        if (*count == capacity) {
            struct job *grown =
                realloc(jobs, (capacity = capacity ? 2 * capacity : 64) * sizeof *jobs);
            if (!grown) {
                fprintf(stderr, "kelvane: out of memory reading the list\n");
                free(text);
                malformed = 1;
                break;
            }
            jobs = grown;
        }
        jobs[(*count)++] = job;
    }
    if (ferror(file)) { /* a folder, say: it opens, but does not read */
        fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
        malformed = 1;
    }
    if (file != stdin) fclose(file);
    if (malformed) {
        while (*count > 0) free(jobs[--*count].text);
        free(jobs);
        return NULL;
    }
    mark_first_inputs(jobs, *count);
    *status = 0;
    return jobs;
}

static void clear_progress(const struct tally *t) {
    if (t->progress) fputs("\r\033[K", stderr);
}

static void show_progress(const struct tally *t) {
    const double elapsed = seconds_now() - t->started;
    const double rate = elapsed > 0 ? (double)t->done / elapsed : 0;
    if (!t->progress) return;
    fprintf(stderr, "\r\033[Kkelvane: %lu of %lu jobs, %.1f a second", (unsigned long)t->done,
            (unsigned long)t->total, rate);
    if (rate > 0 && t->done < t->total)
        fprintf(stderr, ", %.0f s left", (double)(t->total - t->done) / rate);
    fflush(stderr);
}

/* Says `text` on standard error after the job's line number, when `said` is 1. */
static void say(const struct tally *t, const struct job *job, int said, const char *what,
                const char *text) {
    if (!said) return;
    clear_progress(t);
    fprintf(stderr, "line %d: %s%s\n", job->line, what, text);
}

/* Counts a job's outcome, with the warnings about it and the likely cause of a failure; 0 when
 * it failed. */
static int record(struct tally *t, const struct job *job, int ok, const char *message) {
    char note[2 * message_size];
    ++t->done;
    say(t, job, host_extension_warning(job->words[2], note, sizeof note), "warning: ", note);
    if (job->first_of_input)
        say(t, job, host_orientation_warning(job->words[1], note, sizeof note), "warning: ", note);
    if (!ok) {
        ++t->failed;
        say(t, job, 1, "", message);
        say(t, job, host_hint(message, job->words[1], job->words[2], note, sizeof note), "", note);
    }
    show_progress(t);
    return ok;
}

#ifdef _WIN32

/* One job after another, in this process. */
static size_t run_jobs(struct job *jobs, size_t count, int workers, int keep_going,
                       struct tally *t) {
    size_t next;
    (void)workers;
    for (next = 0; next < count && !host_interrupted(); ++next) {
        const int ok =
            jobs[next].op->run(jobs[next].words[1], jobs[next].words[2], jobs[next].numbers);
        if (!record(t, &jobs[next], ok, kelvane_last_error()) && !keep_going) return next + 1;
    }
    return next;
}

#else

struct worker {
    pid_t pid;
    int report; /* the read end of the pipe the worker reports through */
    size_t job;
};

/* Runs the job in a new process, which reports "1", or "0" and the message, through a pipe. */
static int start_worker(const struct job *job, size_t index, struct worker *worker) {
    int channel[2];
    if (pipe(channel) != 0) return 0;
    fflush(NULL);
    worker->pid = fork();
    if (worker->pid < 0) {
        close(channel[0]);
        close(channel[1]);
        return 0;
    }
    if (worker->pid == 0) {
        char report[message_size];
        /* A group of its own, so that a terminal's Ctrl-C reaches the batch alone, which lets
         * the worker finish (or kills it at a second one). */
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        const int ok = job->op->run(job->words[1], job->words[2], job->numbers);
        const int n = snprintf(report, sizeof report, "%d%s", ok, ok ? "" : kelvane_last_error());
        close(channel[0]);
        if (write(channel[1], report, (size_t)n) < 0) _exit(1);
        _exit(0);
    }
    close(channel[1]);
    worker->report = channel[0];
    worker->job = index;
    return 1;
}

/* Waits for a worker to end and records its job's outcome; 0 when that job failed. */
static int finish_worker(struct worker *workers, int *active, const struct job *jobs,
                         struct tally *t) {
    char report[message_size] = "";
    size_t got = 0;
    ssize_t n;
    int status, i, ok;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0 && host_interrupts() >= 2) /* a second signal: end the running jobs now */
        for (i = 0; i < *active; ++i) kill(workers[i].pid, SIGKILL);
    if (pid < 0) return 1;
    for (i = 0; i < *active && workers[i].pid != pid; ++i) continue;
    if (i == *active) return 1; /* not one of ours */
    while (got + 1 < sizeof report &&
           (n = read(workers[i].report, report + got, sizeof report - 1 - got)) > 0)
        got += (size_t)n;
    report[got] = '\0';
    close(workers[i].report);
    ok = report[0] == '1';
    if (WIFSIGNALED(status)) {
        snprintf(report, sizeof report, "0the worker died (signal %d: %s)", WTERMSIG(status),
                 strsignal(WTERMSIG(status)));
    } else if (report[0] != '0' && report[0] != '1') {
        snprintf(report, sizeof report, "0the worker ended without a result");
    }
    ok = record(t, &jobs[workers[i].job], ok && !WIFSIGNALED(status), report + 1);
    workers[i] = workers[--*active]; /* its place goes to the next worker */
    return ok;
}

/* Up to `workers` jobs at a time, each in a process of its own: a worker that dies fails its
 * job alone. Returns how many jobs were started. */
static size_t run_jobs(struct job *jobs, size_t count, int workers, int keep_going,
                       struct tally *t) {
    struct worker *running = calloc((size_t)workers, sizeof *running);
    size_t next = 0;
    int active = 0, stop = 0;
    if (!running) {
        fprintf(stderr, "kelvane: out of memory\n");
        return 0;
    }
    while ((!stop && next < count) || active > 0) {
        stop = stop || host_interrupted();
        while (!stop && next < count && active < workers) {
            if (!start_worker(&jobs[next], next, &running[active])) {
                record(t, &jobs[next], 0, "no worker process could be started");
                stop = !keep_going;
            } else {
                ++active;
            }
            ++next;
        }
        if (active > 0 && !finish_worker(running, &active, jobs, t)) stop = !keep_going;
    }
    free(running);
    return next;
}

#endif

int host_batch(const char *path, int workers, int keep_going) {
    size_t count, started, i;
    int status;
    struct job *jobs = read_jobs(path, &count, &status);
    struct tally t = {0, 0, 0, 0.0, 0};
    if (!jobs && status != 0) return status;
    t.total = count;
    t.started = seconds_now();
    t.progress = is_terminal(stderr);
    host_catch_interrupts(NULL);
    started = run_jobs(jobs, count, workers < 1 ? 1 : workers, keep_going, &t);
    clear_progress(&t);
    fprintf(stderr, "kelvane: %lu jobs in %.1f s: %lu written, %lu failed", (unsigned long)count,
            seconds_now() - t.started, (unsigned long)(t.done - t.failed), (unsigned long)t.failed);
    if (started < count)
        fprintf(stderr, ", %lu not run (%s)", (unsigned long)(count - started),
                host_interrupted() ? "interrupted"
                                   : "the first failure stops the rest; --keep-going runs them");
    fputc('\n', stderr);
    for (i = 0; i < count; ++i) free(jobs[i].text);
    free(jobs);
    if (host_interrupted()) return host_interrupted_status();
    return t.failed == 0 && started == count ? 0 : 1;
}

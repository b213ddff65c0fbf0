#include "batch.h"

#include <errno.h>
#include <kelvane.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "interrupts.h"
#include "kelvane_host.h"
#include "paths.h"

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

enum { message_size = KELVANE_HOST_TEXT_SIZE };

struct job {
    int line;
    int first_of_input; /* no earlier line reads the same input */
    const struct kelvane_host_job *job;
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

int tool_processors(void) {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? (int)info.dwNumberOfProcessors : 1;
#else
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
#endif
}

/* The whole of `file`, malloc'd, its size in *size; NULL on a read error or without memory. */
static char *read_all(FILE *file, size_t *size) {
    size_t capacity = 1 << 16;
    char *text = malloc(capacity);
    *size = 0;
    while (text) {
        const size_t n = fread(text + *size, 1, capacity - *size, file);
        *size += n;
        if (n == 0) break;
        if (*size == capacity) {
            char *grown = realloc(text, capacity *= 2);
            if (!grown) free(text);
            text = grown;
        }
    }
    if (text && ferror(file)) {
        free(text);
        text = NULL;
    }
    return text;
}

static int by_input_then_line(const void *a, const void *b) {
    const struct job *x = *(const struct job *const *)a, *y = *(const struct job *const *)b;
    const int order = strcmp(x->job->in_path, y->job->in_path);
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
        order[i]->first_of_input =
            i == 0 || strcmp(order[i - 1]->job->in_path, order[i]->job->in_path);
    free(order);
}

/* Every job of the list, or NULL (with *status 2) when it cannot be read or a line is bad (each
 * bad line printed). */
static struct job *read_jobs(const char *path, kelvane_host_jobs **list, size_t *count,
                             int *status) {
    FILE *file = strcmp(path, "-") == 0 ? stdin : tool_fopen(path, "rb");
    struct job *jobs;
    size_t size, i;
    char *text;
    int problems;
    *count = 0;
    *status = 2;
    *list = NULL;
    if (!file) {
        fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
        return NULL;
    }
    errno = 0;
    text = read_all(file, &size);
    if (!text) fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
    if (file != stdin) fclose(file);
    if (!text) return NULL;
    *list = kelvane_host_read_jobs(text, size);
    free(text);
    problems = kelvane_host_problem_count(*list);
    for (i = 0; i < (size_t)problems; ++i)
        fprintf(stderr, "%s\n", kelvane_host_problem(*list, (int)i));
    *count = (size_t)kelvane_host_job_count(*list);
    jobs = *list && problems == 0 ? calloc(*count ? *count : 1, sizeof *jobs) : NULL;
    if (!*list || (!jobs && problems == 0))
        fprintf(stderr, "kelvane: out of memory reading the list\n");
    if (!jobs) {
        kelvane_host_free_jobs(*list);
        *list = NULL;
        return NULL;
    }
    for (i = 0; i < *count; ++i) jobs[i].job = kelvane_host_job(*list, (int)i, &jobs[i].line);
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

/* The warnings about a job, from its input as it is before the job runs. */
static void warn(const struct tally *t, const struct job *job) {
    char note[2 * message_size];
    say(t, job, kelvane_host_output_warning(job->job->out_path, note, sizeof note),
        "warning: ", note);
    if (job->first_of_input)
        say(t, job, kelvane_host_input_warning(job->job->in_path, NULL, 0, NULL, note, sizeof note),
            "warning: ", note);
}

/* Counts a job's outcome, with the likely cause of a failure; 0 when it failed. */
static int record(struct tally *t, const struct job *job, int ok, const char *message) {
    char note[2 * message_size];
    ++t->done;
    if (!ok) {
        ++t->failed;
        say(t, job, 1, "", message);
        say(t, job,
            kelvane_host_hint(message, job->job->in_path, job->job->out_path, note, sizeof note,
                              NULL, 0) != 0,
            "", note);
    }
    show_progress(t);
    return ok;
}

/* Runs the job in this process: the library's result, its message into `message`. */
static int run_here(const struct job *job, char *message, size_t size) {
    const struct kelvane_host_job *j = job->job;
    return kelvane_host_run(j->operation, j->in_path, j->out_path, j->numbers, NULL, NULL, message,
                            size);
}

#ifdef _WIN32

/* One job after another, in this process. */
static size_t run_jobs(struct job *jobs, size_t count, int workers, int keep_going,
                       struct tally *t) {
    size_t next;
    (void)workers;
    for (next = 0; next < count && !tool_interrupted(); ++next) {
        char message[message_size];
        int ok;
        warn(t, &jobs[next]);
        ok = run_here(&jobs[next], message, sizeof message);
        if (!record(t, &jobs[next], ok, message) && !keep_going) return next + 1;
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
static int start_worker(const struct tally *t, const struct job *job, size_t index,
                        struct worker *worker) {
    int channel[2];
    warn(t, job);
    if (pipe(channel) != 0) return 0;
    fflush(NULL);
    worker->pid = fork();
    if (worker->pid < 0) {
        close(channel[0]);
        close(channel[1]);
        return 0;
    }
    if (worker->pid == 0) {
        char report[message_size + 1], message[message_size];
        /* A group of its own, so that a terminal's Ctrl-C reaches the batch alone, which lets
         * the worker finish (or kills it at a second one). */
        setpgid(0, 0);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        const int ok = run_here(job, message, sizeof message);
        const int n = snprintf(report, sizeof report, "%d%s", ok, ok ? "" : message);
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
    char report[message_size + 1] = "";
    size_t got = 0;
    ssize_t n;
    int status, i, ok;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0 && tool_interrupts() >= 2) /* a second signal: end the running jobs now */
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
        stop = stop || tool_interrupted();
        while (!stop && next < count && active < workers) {
            if (!start_worker(t, &jobs[next], next, &running[active])) {
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

int tool_batch(const char *path, int workers, int keep_going) {
    size_t count, started;
    int status;
    kelvane_host_jobs *list;
    struct job *jobs = read_jobs(path, &list, &count, &status);
    struct tally t = {0, 0, 0, 0.0, 0};
    if (!jobs && status != 0) return status;
    t.total = count;
    t.started = seconds_now();
    t.progress = is_terminal(stderr);
    tool_catch_interrupts(NULL);
    started = run_jobs(jobs, count, workers < 1 ? 1 : workers, keep_going, &t);
    clear_progress(&t);
    fprintf(stderr, "kelvane: %lu jobs in %.1f s: %lu written, %lu failed", (unsigned long)count,
            seconds_now() - t.started, (unsigned long)(t.done - t.failed), (unsigned long)t.failed);
    if (started < count)
        fprintf(stderr, ", %lu not run (%s)", (unsigned long)(count - started),
                tool_interrupted() ? "interrupted"
                                   : "the first failure stops the rest; --keep-going runs them");
    fputc('\n', stderr);
    free(jobs);
    kelvane_host_free_jobs(list);
    if (tool_interrupted()) return tool_interrupted_status();
    return t.failed == 0 && started == count ? 0 : 1;
}

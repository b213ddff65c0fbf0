#include "runner.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "interrupts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

/* Runs the job in this process: the library's result, its message into the outcome. A dry run
 * gives the library no output to write (an empty name): a job that gets as far as writing passes,
 * with every check of the input and its numbers made. */
static int execute(const struct tool_job *job, int dry_run, struct outcome *o) {
    const struct kelvane_host_job *j = job->job;
    static const char no_output[] = "failed to write '': ";
    const int ok =
        kelvane_host_run(j->operation, j->in_path, dry_run ? "" : j->out_path, j->numbers,
                         job->in_name, job->out_name, o->message, sizeof o->message);
    if (dry_run && !ok && strncmp(o->message, no_output, sizeof no_output - 1) == 0) {
        o->message[0] = '\0';
        return 1;
    }
    return ok;
}

/* The likely cause of a failure, from what the paths show now. */
static void explain(const struct tool_job *job, struct outcome *o) {
    o->hint[0] = '\0';
    if (!o->ok && !o->kept)
        kelvane_host_hint(o->message, job->in_name ? NULL : job->job->in_path,
                          job->out_name ? NULL : job->job->out_path, o->hint, sizeof o->hint, NULL,
                          0);
}

/* Whether --no-clobber keeps the job's output, which exists. */
static int kept(const struct run *run, const struct tool_job *job) {
    struct stat st;
#ifdef _WIN32
    return run->request->no_clobber && !job->out_name && stat(job->job->out_path, &st) == 0;
#else
    return run->request->no_clobber && !job->out_name && lstat(job->job->out_path, &st) == 0;
#endif
}

static int finish(struct run *run, const struct tool_job *job, struct outcome *o, double started) {
    o->seconds = seconds_now() - started;
    explain(job, o);
    return report_outcome(&run->report, job, o);
}

#ifdef _WIN32

/* One job after another, in this process. */
static size_t run_jobs(struct run *run) {
    size_t next;
    for (next = 0; next < run->plan->count && !tool_interrupted(); ++next) {
        const struct tool_job *job = &run->plan->jobs[next];
        struct outcome o;
        const double started = seconds_now();
        memset(&o, 0, sizeof o);
        report_warnings(&run->report, job, &o);
        o.kept = kept(run, job);
        o.ok = o.kept || execute(job, run->request->dry_run, &o);
        if (!finish(run, job, &o, started) && !run->request->keep_going) return next + 1;
    }
    return next;
}

#else

struct worker {
    pid_t pid;
    int report; /* the read end of the pipe the worker reports through */
    size_t job;
    double started;
    struct outcome outcome; /* its warnings, until its result comes */
};

/* The worker's own part: runs the job, reports "1", or "0" and the message, through a pipe. */
static void work(const struct run *run, const struct tool_job *job, int channel) {
    struct outcome o;
    char report[sizeof o.message + 2];
    int n;
    /* A group of its own, so that a terminal's Ctrl-C reaches the tool alone, which lets the
     * worker finish (or kills it at a second one). */
    setpgid(0, 0);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    o.ok = execute(job, run->request->dry_run, &o);
    n = snprintf(report, sizeof report, "%d%s", o.ok, o.ok ? "" : o.message);
    if (write(channel, report, (size_t)n) < 0) _exit(1);
    _exit(0);
}

/* Starts the job in a worker, with the warnings said of it; 0 when no worker could be started. */
static int start_worker(struct run *run, size_t index, struct worker *w,
                        const struct outcome *warned) {
    const struct tool_job *job = &run->plan->jobs[index];
    int channel[2];
    memset(w, 0, sizeof *w);
    w->job = index;
    w->started = seconds_now();
    w->outcome = *warned;
    if (pipe(channel) != 0) return 0;
    fflush(NULL);
    if ((w->pid = fork()) < 0) {
        close(channel[0]);
        close(channel[1]);
        return 0;
    }
    if (w->pid == 0) {
        close(channel[0]);
        work(run, job, channel[1]);
    }
    close(channel[1]);
    w->report = channel[0];
    return 1;
}

/* The outcome a finished worker reports (or its death). */
static void read_outcome(struct worker *w, int status) {
    char report[sizeof w->outcome.message + 1] = "";
    size_t got = 0;
    ssize_t n;
    while (got + 1 < sizeof report &&
           (n = read(w->report, report + got, sizeof report - 1 - got)) > 0)
        got += (size_t)n;
    report[got] = '\0';
    close(w->report);
    w->outcome.ok = report[0] == '1' && !WIFSIGNALED(status);
    if (WIFSIGNALED(status))
        snprintf(w->outcome.message, sizeof w->outcome.message, "the worker died (signal %d: %s)",
                 WTERMSIG(status), strsignal(WTERMSIG(status)));
    else if (report[0] != '0' && report[0] != '1')
        snprintf(w->outcome.message, sizeof w->outcome.message,
                 "the worker ended without a result");
    else {
        const size_t length = got > 1 ? got - 1 : 0; /* fits: the report holds a message */
        memcpy(w->outcome.message, report + 1, length);
        w->outcome.message[length] = '\0';
    }
}

/* Waits for a worker to end and reports its job; 0 when that job failed. */
static int finish_worker(struct run *run, struct worker *workers, int *active) {
    int status, i, ok;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0 && tool_interrupts() >= 2) /* a second signal: end the running jobs now */
        for (i = 0; i < *active; ++i) kill(workers[i].pid, SIGKILL);
    if (pid < 0) return 1;
    for (i = 0; i < *active && workers[i].pid != pid; ++i) continue;
    if (i == *active) return 1; /* not one of ours */
    read_outcome(&workers[i], status);
    ok = finish(run, &run->plan->jobs[workers[i].job], &workers[i].outcome, workers[i].started);
    workers[i] = workers[--*active]; /* its place goes to the next worker */
    return ok;
}

/* Starts the next job: in a worker, or kept at once by --no-clobber; 0 when it failed. */
static int start_next(struct run *run, size_t next, struct worker *workers, int *active) {
    const struct tool_job *job = &run->plan->jobs[next];
    struct outcome o;
    memset(&o, 0, sizeof o);
    if (kept(run, job)) {
        o.ok = o.kept = 1;
        return finish(run, job, &o, seconds_now());
    }
    report_warnings(&run->report, job, &o);
    if (start_worker(run, next, &workers[*active], &o)) return ++*active, 1;
    snprintf(o.message, sizeof o.message, "no worker process could be started: %s",
             strerror(errno));
    return finish(run, job, &o, seconds_now());
}

/* Up to `workers` jobs at a time, each in a process of its own: a worker that dies fails its
 * job alone. Returns how many jobs were started. */
static size_t run_jobs(struct run *run) {
    const int most = run->workers;
    struct worker *workers = calloc((size_t)most, sizeof *workers);
    size_t next = 0;
    int active = 0, stop = 0;
    if (!workers) {
        fprintf(stderr, "kelvane: out of memory\n");
        return 0;
    }
    while ((!stop && next < run->plan->count) || active > 0) {
        stop = stop || tool_interrupted();
        while (!stop && next < run->plan->count && active < most)
            stop = !start_next(run, next++, workers, &active) && !run->request->keep_going;
        if (active > 0 && !finish_worker(run, workers, &active))
            stop = stop || !run->request->keep_going;
    }
    free(workers);
    return next;
}

#endif

/* The one job of a command line, in this process. */
static int run_single(struct run *run) {
    const struct tool_job *job = &run->plan->jobs[0];
    struct outcome o;
    const double started = seconds_now();
    memset(&o, 0, sizeof o);
    report_warnings(&run->report, job, &o);
    o.kept = kept(run, job);
    o.ok = o.kept || execute(job, run->request->dry_run, &o);
    return finish(run, job, &o, started);
}

int run_plan(const struct request *request, const struct plan *plan, int (*deliver)(void *),
             void *context) {
    struct run run;
    size_t started;
    int ok = 1;
    run.request = request;
    run.plan = plan;
    run.workers = request->workers ? request->workers : tool_processors();
    start_report(&run.report, request, plan);
    if (plan->label == label_single) {
        ok = run_single(&run);
        if (ok && deliver && !request->dry_run && !deliver(context)) {
            fprintf(stderr, "kelvane: cannot write standard output\n");
            ok = 0;
        }
        return tool_interrupted() ? tool_interrupted_status() : ok ? 0 : 1;
    }
    started = run_jobs(&run);
    report_summary(&run.report, plan->count - started,
                   tool_interrupted() ? "interrupted"
                                      : "the first failure stops the rest; --keep-going runs them");
    if (tool_interrupted()) return tool_interrupted_status();
    return run.report.failed == 0 && started == plan->count ? 0 : 1;
}

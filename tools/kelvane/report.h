/* What the tool says of its jobs: on standard error, each failure with its likely cause and each
 * warning ("line N: ..."), a progress line on a terminal and a summary; or with --json one JSON
 * object a job on standard output and nothing else there; -q failures alone, -v every job. */
#ifndef TOOL_REPORT_H
#define TOOL_REPORT_H

#include <stddef.h>

#include "command_line.h"
#include "plan.h"

struct report {
    int json, quiet, verbose, dry_run, progress;
    enum label label;
    size_t total, done, failed, kept;
    double started;
};

/* A job's outcome. */
struct outcome {
    int ok, kept;
    char message[KELVANE_HOST_TEXT_SIZE], hint[KELVANE_HOST_TEXT_SIZE];
    char warnings[4 * KELVANE_HOST_TEXT_SIZE + 8]; /* each ending in a newline */
    double seconds;
};

void start_report(struct report *report, const struct request *request, const struct plan *plan);
/* Says what there is to say of the job before it runs: its warnings, into the outcome too. */
void report_warnings(const struct report *report, const struct tool_job *job,
                     struct outcome *outcome);
/* Counts and says a job's outcome; 0 when it failed. */
int report_outcome(struct report *report, const struct tool_job *job,
                   const struct outcome *outcome);
/* The summary, with how many jobs did not run and why. */
void report_summary(const struct report *report, size_t not_run, const char *why);

double seconds_now(void);

#endif

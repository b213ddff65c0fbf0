/* What a command line asks for, as jobs: one job, one for each input of --out-dir, or a list's. */
#ifndef TOOL_PLAN_H
#define TOOL_PLAN_H

#include <stddef.h>

#include "command_line.h"
#include "kelvane_host.h"

/* How a report names a job: by its line in a list, by its input, or as the one job. */
enum label { label_line, label_input, label_single };

struct tool_job {
    int line; /* its line in the list, its input's place among the inputs (from 1), or 0 */
    const struct kelvane_host_job *job;
    const char *in_name, *out_name; /* what messages call the paths ("-": a standard stream) */
    int first_of_input;             /* no earlier job reads the same input */
};

struct plan {
    struct tool_job *jobs;
    size_t count;
    enum label label;
    kelvane_host_jobs *list;        /* owns the jobs and their words */
    struct kelvane_host_job single; /* the one job of a command line */
    char **outputs;                 /* the outputs made for --out-dir */
    size_t output_count;
};

/* The jobs the request asks for: 0, or the exit status of a bad request or list (2) after saying
 * why on standard error. */
int make_plan(const struct request *request, struct plan *plan);
void free_plan(struct plan *plan);

#endif

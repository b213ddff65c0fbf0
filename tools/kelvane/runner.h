/* Runs a plan's jobs: the one job of a command line in this process; many in up to N worker
 * processes at a time (one after another on Windows), each job in a process of its own, so that
 * a worker that dies fails its job alone; without --keep-going no new job starts after the first
 * failure. A first SIGINT, SIGTERM or SIGHUP lets the running jobs finish and starts no new one;
 * a second kills the workers. */
#ifndef TOOL_RUNNER_H
#define TOOL_RUNNER_H

#include "command_line.h"
#include "plan.h"
#include "report.h"

struct run {
    const struct request *request;
    const struct plan *plan;
    int workers;
    struct report report;
};

/* Runs the jobs and returns the exit status: 0 when every output was written (or kept), 1 when a
 * job failed or did not run, 128 + a signal's number when interrupted. `deliver`, when not NULL,
 * hands the one job's result over afterwards (to standard output): 0 when it could not. */
int run_plan(const struct request *request, const struct plan *plan, int (*deliver)(void *),
             void *context);

/* The number of processors, the default for -j. */
int tool_processors(void);

#endif

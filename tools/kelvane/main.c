/* kelvane: the library's operations from the shell, over the host layer: one job, one job for
 * each of many inputs into a folder, or a list of jobs in parallel (command_line.h has the
 * grammar, `kelvane --help` the whole of it). Exit status 0 when every output was written, 1
 * when a job failed or did not run, 2 for a bad invocation or list, 128 + a signal's number when
 * interrupted. */
#include <kelvane.h>
#include <stdio.h>
#include <string.h>

#include "command_line.h"
#include "interrupts.h"
#include "paths.h"
#include "plan.h"
#include "runner.h"
#include "streams.h"

static int deliver(void *streams) { return deliver_output(streams); }

/* The one job of the command line, with '-' standing for a standard stream. */
static int run_single(const struct request *request, struct plan *plan) {
    struct streams streams;
    char why[KELVANE_HOST_TEXT_SIZE];
    const int from_stdin = strcmp(plan->single.in_path, "-") == 0;
    const int to_stdout = strcmp(plan->single.out_path, "-") == 0;
    int status;
    if (!open_streams(&plan->single, request->format, &streams, why, sizeof why)) {
        fprintf(stderr, "kelvane: %s\n", why);
        return 1;
    }
    plan->jobs[0].in_name = from_stdin ? "-" : NULL;
    plan->jobs[0].out_name = to_stdout ? "-" : NULL;
    tool_catch_interrupts(streams.scratch);
    status = run_plan(request, plan, to_stdout ? deliver : NULL, &streams);
    close_streams(&streams);
    if (tool_interrupted()) fprintf(stderr, "kelvane: interrupted\n");
    return status;
}

static int run(int argc, char **argv) {
    struct request request;
    struct plan plan;
    char why[KELVANE_HOST_TEXT_SIZE];
    int status;
    remove_left_overs();
    if (argc < 2) {
        print_usage(stderr, -1);
        return 2;
    }
    if (!read_command_line(argc, argv, &request, why, sizeof why)) {
        fprintf(stderr, "kelvane: %s\n", why);
        print_usage(stderr, request.operation);
        return 2;
    }
    if (request.kind == request_help) {
        if (request.operation >= 0)
            print_usage(stdout, request.operation);
        else
            print_help(stdout);
        return 0;
    }
    if (request.kind == request_version) {
        printf("kelvane %d.%d.%d (tarnwick-kelvane, MIT licence)\n", KELVANE_VERSION_MAJOR,
               KELVANE_VERSION_MINOR, KELVANE_VERSION_PATCH);
        return 0;
    }
    if ((status = make_plan(&request, &plan)) == 0) {
        if (plan.label == label_single) {
            status = run_single(&request, &plan);
        } else {
            tool_catch_interrupts(NULL);
            status = run_plan(&request, &plan, NULL, NULL);
        }
    }
    free_plan(&plan);
    return status;
}

int main(int argc, char **argv) { return run(argc, tool_utf8_arguments(argc, argv)); }

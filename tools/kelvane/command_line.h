/* The command line: options before the operands they apply to, `--` ending them.
 *
 *   kelvane [OPTIONS] OPERATION [OPTIONS] [--] IN OUT [NUMBERS...]
 *   kelvane [OPTIONS] OPERATION --out-dir DIR [OPTIONS] [--] IN...
 *   kelvane [OPTIONS] batch [OPTIONS] [--] LIST
 *   kelvane --help | --version */
#ifndef TOOL_COMMAND_LINE_H
#define TOOL_COMMAND_LINE_H

#include <stddef.h>
#include <stdio.h>

#include "kelvane_host.h"

enum request_kind { request_help, request_version, request_job, request_batch };

struct request {
    enum request_kind kind;
    int operation; /* the host layer's number of a job's operation (or the one --help is for) */
    const char *format, *out_dir;
    int workers; /* 0: one a processor */
    int keep_going, dry_run, json, quiet, verbose, no_clobber;
    /* The numbers given by their options, as text (NULL where none was given). */
    const char *named[KELVANE_HOST_MAX_NUMBERS];
    int named_given;
    char **operands;
    int operand_count;
};

/* Reads the command line into `request`: 1, or 0 with why into `why` (a usage error). */
int read_command_line(int argc, char **argv, struct request *request, char *why, size_t size);

/* The usage lines (for an operation's job, when `operation` is one), after a usage error. */
void print_usage(FILE *to, int operation);
/* The whole help: usage, options, operations, numbers, examples. */
void print_help(FILE *to);

/* The operation's numbers' names in capitals ("BORDER R G B"), and its usage by option
 * ("--border N [--color R,G,B]"). */
void number_names(int operation, char *into, size_t size);
void number_options(int operation, char *into, size_t size);

#endif

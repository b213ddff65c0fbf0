/* `kelvane batch`: many jobs from one list, in parallel worker processes. */
#ifndef TOOL_BATCH_H
#define TOOL_BATCH_H

/* Runs the jobs listed in the file at `path` ("-": standard input). Each line holds one job as
 * the command line takes it (OPERATION IN OUT NUMBERS..., words quoted as in a shell); blank
 * lines and '#' comments are skipped. Every line is checked before any job runs. Jobs run in up
 * to `workers` processes at a time (one after another on Windows); without `keep_going` no new
 * job starts after the first failure. Prints each failure as "line N: <message>", a progress
 * line while standard error is a terminal, and a summary. Returns the exit status: 0 when every
 * job was written, 1 when any failed or was not run, 2 for a malformed line or an unreadable
 * list. */
int tool_batch(const char *path, int workers, int keep_going);

/* The number of processors, the default for `workers`. */
int tool_processors(void);

#endif

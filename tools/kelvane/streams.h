/* '-' as a job's IN or OUT. Standard input is read where the library can open it (/dev/stdin;
 * on Windows a copy in a scratch folder). Standard output is first a file in the tool's private
 * folder (${TMPDIR:-/tmp}/kelvane-UID, the user's alone), named after this process, which is
 * unlinked before its bytes go out: a reader that leaves early (SIGPIPE) or a caught signal
 * leaves nothing; a SIGKILL leaves that one file, which the next run of the tool removes. */
#ifndef TOOL_STREAMS_H
#define TOOL_STREAMS_H

#include <stddef.h>

#include "kelvane_host.h"

struct streams {
    char folder[4096 + 32], in_file[4096 + 160], out_file[4096 + 160];
    int own_folder;         /* the folder is this run's own (removed at the end) */
    const char *scratch[3]; /* what a second signal removes */
};

/* Removes the files that runs of the tool killed meanwhile left in its private folder. */
void remove_left_overs(void);
/* Points the job's '-' paths at the files that stand for the streams; 0 with why. */
int open_streams(struct kelvane_host_job *job, const char *format, struct streams *streams,
                 char *why, size_t size);
/* Copies the output's file to standard output, removing the file first; 0 on a failure. */
int deliver_output(struct streams *streams);
/* Removes whatever file of the streams is left. */
void close_streams(struct streams *streams);

#endif

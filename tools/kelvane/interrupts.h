/* Ctrl-C (SIGINT), SIGTERM and SIGHUP in the command-line tool. The first signal asks for a
 * clean stop: the running job (or a batch's running jobs) may finish, no new one starts, and the
 * tool exits with 128 + the signal's number (130, 143, 129). The second ends the work at once: a
 * batch kills its workers; a single job removes its scratch file and ends by the signal itself. */
#ifndef TOOL_INTERRUPTS_H
#define TOOL_INTERRUPTS_H

/* Catches the three signals from now on. `scratch`, when not NULL, lists up to three paths (files,
 * then the folder that holds them, NULL-terminated) that a second signal removes (on POSIX
 * systems) before the process ends; with NULL a second signal is only counted. */
void tool_catch_interrupts(const char *const *scratch);

/* The first signal's number, or 0 while none came. */
int tool_interrupted(void);
/* How many signals came. */
int tool_interrupts(void);
/* The exit status that reports the first signal: 128 + its number. */
int tool_interrupted_status(void);

#endif

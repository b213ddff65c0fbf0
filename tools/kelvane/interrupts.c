#include "interrupts.h"

#include <signal.h>
#include <stddef.h>
#ifndef _WIN32
#include <unistd.h>
#endif

static volatile sig_atomic_t first_signal = 0, signals = 0;
static const char *const *scratch_paths = NULL;

/* Only async-signal-safe calls here: unlink and rmdir, signal and raise. */
static void on_signal(int number) {
    if (!first_signal) first_signal = number;
    signals = signals + 1;
    if (signals < 2 || !scratch_paths) {
#ifdef _WIN32
        signal(number, on_signal); /* the C runtime puts the default back before each call */
#endif
        return;
    }
#ifndef _WIN32
    {
        int i;
        for (i = 0; scratch_paths[i]; ++i)
            if (unlink(scratch_paths[i]) != 0) rmdir(scratch_paths[i]);
    }
#endif
    signal(number, SIG_DFL);
    raise(number);
}

void tool_catch_interrupts(const char *const *scratch) {
    scratch_paths = scratch;
#ifdef _WIN32
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
#else
    {
        /* No SA_RESTART: a batch waiting for its workers wakes up to the signal. */
        struct sigaction action;
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGINT, &action, NULL);
        sigaction(SIGTERM, &action, NULL);
        sigaction(SIGHUP, &action, NULL);
    }
#endif
}

int tool_interrupted(void) { return first_signal; }

int tool_interrupts(void) { return signals; }

int tool_interrupted_status(void) { return 128 + first_signal; }

#include "report.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define is_terminal(stream) _isatty(_fileno(stream))
#else
#include <time.h>
#include <unistd.h>
#define is_terminal(stream) isatty(fileno(stream))
#endif

double seconds_now(void) {
#ifdef _WIN32
    return (double)GetTickCount64() / 1000.0;
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
#endif
}

static const char *plural(size_t n, const char *one, const char *many) {
    return n == 1 ? one : many;
}

void start_report(struct report *report, const struct request *request, const struct plan *plan) {
    memset(report, 0, sizeof *report);
    report->json = request->json;
    report->quiet = request->quiet;
    report->verbose = request->verbose;
    report->dry_run = request->dry_run;
    report->label = plan->label;
    report->total = plan->count;
    report->started = seconds_now();
    report->progress = plan->label != label_single && !request->quiet && is_terminal(stderr);
}

static void clear_progress(const struct report *r) {
    if (r->progress) fputs("\r\033[K", stderr);
}

static void show_progress(const struct report *r) {
    const double elapsed = seconds_now() - r->started;
    const double rate = elapsed > 0 ? (double)r->done / elapsed : 0;
    if (!r->progress) return;
    fprintf(stderr, "\r\033[Kkelvane: %lu of %lu %s, %.1f a second", (unsigned long)r->done,
            (unsigned long)r->total, plural(r->total, "job", "jobs"), rate);
    if (rate > 0 && r->done < r->total)
        fprintf(stderr, ", %.0f s left", (double)(r->total - r->done) / rate);
    fflush(stderr);
}

/* Says `text` on standard error after the job's label and `what`. */
static void say(const struct report *r, const struct tool_job *job, const char *what,
                const char *text) {
    clear_progress(r);
    if (r->label == label_line)
        fprintf(stderr, "line %d: %s%s\n", job->line, what, text);
    else if (r->label == label_input)
        fprintf(stderr, "%s: %s%s\n", job->job->in_path, what, text);
    else
        fprintf(stderr, "kelvane: %s%s\n", what, text);
}

/* Adds `note` and a newline to the outcome's warnings. */
static void add_warning(struct outcome *o, const char *note) {
    const size_t at = strlen(o->warnings), length = strlen(note);
    if (at + length + 2 > sizeof o->warnings) return;
    memcpy(o->warnings + at, note, length);
    memcpy(o->warnings + at + length, "\n", 2);
}

void report_warnings(const struct report *r, const struct tool_job *job, struct outcome *o) {
    const char *in = job->in_name ? NULL : job->job->in_path;
    char note[2 * KELVANE_HOST_TEXT_SIZE];
    o->warnings[0] = '\0';
    if (!job->out_name && kelvane_host_output_warning(job->job->out_path, note, sizeof note))
        add_warning(o, note);
    if (in && job->first_of_input &&
        kelvane_host_input_warning(in, NULL, 0, NULL, note, sizeof note))
        add_warning(o, note);
    if (r->json || r->quiet) return;
    for (in = o->warnings; *in;) {
        const char *end = strchr(in, '\n');
        char line[sizeof o->warnings];
        snprintf(line, sizeof line, "%.*s", (int)(end - in), in);
        say(r, job, "warning: ", line);
        in = end + 1;
    }
}

/* `text` as a JSON string: escaped, and U+FFFD for each byte that is not UTF-8. */
static void json_string(const char *text) {
    const unsigned char *p = (const unsigned char *)text;
    putchar('"');
    while (*p) {
        int length = *p < 0x80         ? 1
                     : (*p >> 5) == 6  ? 2
                     : (*p >> 4) == 14 ? 3
                     : (*p >> 3) == 30 ? 4
                                       : 0;
        int k;
        for (k = 1; k < length; ++k)
            if ((p[k] & 0xC0) != 0x80) length = 0;
        if (length == 0) {
            fputs("\\ufffd", stdout);
            ++p;
        } else if (*p == '"' || *p == '\\') {
            printf("\\%c", *p++);
        } else if (*p < 0x20) {
            printf("\\u%04x", *p++);
        } else {
            fwrite(p, 1, (size_t)length, stdout);
            p += length;
        }
    }
    putchar('"');
}

static void json_text_or_null(const char *text) {
    if (*text)
        json_string(text);
    else
        fputs("null", stdout);
}

static void report_json(const struct report *r, const struct tool_job *job,
                        const struct outcome *o) {
    char warning[sizeof o->warnings] = ""; /* each one line: several one a line */
    const size_t length = strlen(o->warnings);
    if (length > 0) memcpy(warning, o->warnings, length - 1);
    if (r->label == label_single)
        fputs("{\"line\":null", stdout);
    else
        printf("{\"line\":%d", job->line);
    fputs(",\"input\":", stdout);
    json_string(job->in_name ? job->in_name : job->job->in_path);
    fputs(",\"output\":", stdout);
    json_string(job->out_name ? job->out_name : job->job->out_path);
    printf(",\"ok\":%s,\"kept\":%s,\"message\":", o->ok ? "true" : "false",
           o->kept ? "true" : "false");
    json_string(o->message);
    fputs(",\"hint\":", stdout);
    json_text_or_null(o->hint);
    fputs(",\"warning\":", stdout);
    json_text_or_null(warning);
    printf(",\"seconds\":%.3f}\n", o->seconds);
    fflush(stdout);
}

int report_outcome(struct report *r, const struct tool_job *job, const struct outcome *o) {
    char note[KELVANE_HOST_TEXT_SIZE + 64];
    ++r->done;
    r->failed += !o->ok;
    r->kept += o->kept;
    if (r->json) {
        report_json(r, job, o);
    } else if (!o->ok) {
        say(r, job, "", o->message);
        if (*o->hint) say(r, job, "", o->hint);
    } else if (r->verbose) {
        snprintf(note, sizeof note, "%s '%s' in %.2f s",
                 o->kept      ? "kept"
                 : r->dry_run ? "would write"
                              : "wrote",
                 job->out_name ? job->out_name : job->job->out_path, o->seconds);
        say(r, job, "", note);
    }
    show_progress(r);
    return o->ok;
}

void report_summary(const struct report *r, size_t not_run, const char *why) {
    const size_t fine = r->done - r->failed - r->kept;
    clear_progress(r);
    if (r->quiet || r->label == label_single) return;
    fprintf(stderr, "kelvane: %lu %s%s in %.1f s: %lu %s, %lu failed", (unsigned long)r->total,
            plural(r->total, "job", "jobs"), r->dry_run ? " checked" : "",
            seconds_now() - r->started, (unsigned long)fine, r->dry_run ? "fine" : "written",
            (unsigned long)r->failed);
    if (r->kept) fprintf(stderr, ", %lu kept (--no-clobber)", (unsigned long)r->kept);
    if (not_run) fprintf(stderr, ", %lu not run (%s)", (unsigned long)not_run, why);
    fputc('\n', stderr);
}

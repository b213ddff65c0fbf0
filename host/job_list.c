/* Jobs from words, and job lists: one job a line, its words split as a shell splits them. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

enum { max_words = 16 };

int host_say(char *into, size_t size, const char *format, ...) {
    va_list arguments;
    if (!into || size == 0) return 0;
    va_start(arguments, format);
    vsnprintf(into, size, format, arguments);
    va_end(arguments);
    return 0;
}

int kelvane_host_read_words(const char *const *words, int count, int flags,
                            struct kelvane_host_job *job, char *why, size_t why_size) {
    const struct host_operation *op;
    char names[128];
    int i;
    if (count == 0)
        return host_say(why, why_size, "an empty job: an operation, IN, OUT and its numbers");
    job->operation = kelvane_host_find_operation(words[0]);
    op = host_operation(job->operation);
    if (!op) return host_say(why, why_size, "unknown operation '%s'", words[0]);
    if (count != 3 + op->count) {
        host_number_names(op, names, sizeof names);
        return host_say(why, why_size, "%s takes IN OUT %s", op->name, names);
    }
    job->in_path = words[1];
    job->out_path = words[2];
    if (!(flags & KELVANE_HOST_STREAMS) &&
        (strcmp(words[1], "-") == 0 || strcmp(words[2], "-") == 0))
        return host_say(why, why_size, "'-' (standard input or output) has no place in a batch");
    for (i = 0; i < op->count; ++i)
        if (!kelvane_host_read_number(job->operation, i, words[3 + i], &job->numbers[i], why,
                                      why_size))
            return 0;
    return kelvane_host_check_numbers(job->operation, job->numbers, why, why_size);
}

/* Splits `text` (NUL-terminated) into words in place: blanks separate words, '...' and "..."
 * quote (a backslash escapes " and \ within double quotes and any character outside quotes), and
 * a word that starts with '#' begins a comment. The number of words, or -1 with why. */
static int split_words(char *text, char **words, char *why, size_t why_size) {
    char *in = text, *out = text;
    int count = 0;
    for (;;) {
        while (*in == ' ' || *in == '\t') ++in;
        if (*in == '\0' || *in == '#') return count;
        if (count == max_words) return host_say(why, why_size, "more than %d words", max_words) - 1;
        words[count++] = out;
        while (*in != '\0' && *in != ' ' && *in != '\t') {
            if (*in == '\'' || *in == '"') {
                const char quote = *in++;
                while (*in != quote) {
                    if (*in == '\0')
                        return host_say(why, why_size, "a %c quote is not closed", quote) - 1;
                    if (quote == '"' && *in == '\\' && (in[1] == '"' || in[1] == '\\')) ++in;
                    *out++ = *in++;
                }
                ++in;
            } else {
                if (*in == '\\' && in[1] != '\0') ++in;
                *out++ = *in++;
            }
        }
        if (*in != '\0') ++in;
        *out++ = '\0';
    }
}

struct entry {
    int line;
    struct kelvane_host_job job;
    char *text; /* the line's own words, which the job's paths point into */
};

struct kelvane_host_jobs {
    struct entry *jobs;
    int count, capacity;
    char **problems;
    int problem_count, problem_capacity;
    int lines;
};

/* Makes room for one more item of `size` bytes in the array at *items. */
static int grow(void **items, int count, int *capacity, size_t size) {
    void *grown;
    if (count < *capacity) return 1;
    grown = realloc(*items, (size_t)(*capacity ? 2 * *capacity : 16) * size);
    if (!grown) return 0;
    *items = grown;
    *capacity = *capacity ? 2 * *capacity : 16;
    return 1;
}

static int add_problem(kelvane_host_jobs *jobs, const char *why) {
    char text[KELVANE_HOST_TEXT_SIZE];
    char *copy;
    snprintf(text, sizeof text, "line %d: %s", jobs->lines, why);
    copy = malloc(strlen(text) + 1);
    if (!copy || !grow((void **)&jobs->problems, jobs->problem_count, &jobs->problem_capacity,
                       sizeof *jobs->problems)) {
        free(copy);
        return 0;
    }
    strcpy(copy, text);
    jobs->problems[jobs->problem_count++] = copy;
    return 1;
}

/* Adds the job of `count` words, whose text `text` (malloc'd) the list now owns. */
static int add_job(kelvane_host_jobs *jobs, const char *const *words, int count, char *text) {
    struct entry entry;
    char why[KELVANE_HOST_TEXT_SIZE];
    entry.line = jobs->lines;
    entry.text = text;
    if (!kelvane_host_read_words(words, count, 0, &entry.job, why, sizeof why)) {
        free(text);
        return add_problem(jobs, why);
    }
    if (!grow((void **)&jobs->jobs, jobs->count, &jobs->capacity, sizeof *jobs->jobs)) {
        free(text);
        return 0;
    }
    jobs->jobs[jobs->count++] = entry;
    return 1;
}

kelvane_host_jobs *kelvane_host_new_jobs(void) { return calloc(1, sizeof(kelvane_host_jobs)); }

int kelvane_host_add_line(kelvane_host_jobs *jobs, const char *text, size_t size) {
    char *words[max_words], why[KELVANE_HOST_TEXT_SIZE];
    char *copy;
    int count;
    ++jobs->lines;
    if (size > 0 && text[size - 1] == '\r') --size;
    if (memchr(text, '\0', size)) return add_problem(jobs, "the line holds a NUL byte");
    copy = malloc(size + 1);
    if (!copy) return 0;
    memcpy(copy, text, size);
    copy[size] = '\0';
    count = split_words(copy, words, why, sizeof why);
    if (count <= 0) {
        free(copy);
        return count == 0 ? 1 : add_problem(jobs, why);
    }
    return add_job(jobs, (const char *const *)words, count, copy);
}

int kelvane_host_add_words(kelvane_host_jobs *jobs, const char *const *words, int count) {
    const char *kept[max_words];
    size_t size = 1, at = 0;
    char *text;
    int i;
    ++jobs->lines;
    if (count > max_words) {
        char why[64];
        host_say(why, sizeof why, "more than %d words", max_words);
        return add_problem(jobs, why);
    }
    for (i = 0; i < count; ++i) size += strlen(words[i]) + 1;
    text = malloc(size);
    if (!text) return 0;
    for (i = 0; i < count; ++i) {
        const size_t length = strlen(words[i]) + 1;
        memcpy(text + at, words[i], length);
        kept[i] = text + at;
        at += length;
    }
    return add_job(jobs, kept, count, text);
}

kelvane_host_jobs *kelvane_host_read_jobs(const char *text, size_t size) {
    kelvane_host_jobs *jobs = kelvane_host_new_jobs();
    size_t start = 0;
    while (jobs && start < size) {
        const char *end = memchr(text + start, '\n', size - start);
        const size_t length = end ? (size_t)(end - (text + start)) : size - start;
        if (!kelvane_host_add_line(jobs, text + start, length)) {
            kelvane_host_free_jobs(jobs);
            return NULL;
        }
        start += length + 1;
    }
    return jobs;
}

void kelvane_host_free_jobs(kelvane_host_jobs *jobs) {
    int i;
    if (!jobs) return;
    for (i = 0; i < jobs->count; ++i) free(jobs->jobs[i].text);
    for (i = 0; i < jobs->problem_count; ++i) free(jobs->problems[i]);
    free(jobs->jobs);
    free(jobs->problems);
    free(jobs);
}

int kelvane_host_job_count(const kelvane_host_jobs *jobs) { return jobs ? jobs->count : 0; }

const struct kelvane_host_job *kelvane_host_job(const kelvane_host_jobs *jobs, int i, int *line) {
    if (!jobs || i < 0 || i >= jobs->count) return NULL;
    if (line) *line = jobs->jobs[i].line;
    return &jobs->jobs[i].job;
}

int kelvane_host_problem_count(const kelvane_host_jobs *jobs) {
    return jobs ? jobs->problem_count : 0;
}

const char *kelvane_host_problem(const kelvane_host_jobs *jobs, int i) {
    return jobs && i >= 0 && i < jobs->problem_count ? jobs->problems[i] : NULL;
}

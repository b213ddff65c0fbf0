#include "plan.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "paths.h"

enum { text_size = KELVANE_HOST_TEXT_SIZE, max_words = 3 + KELVANE_HOST_MAX_NUMBERS };

static int bad(const char *why, int operation) {
    fprintf(stderr, "kelvane: %s\n", why);
    print_usage(stderr, operation);
    return 2;
}

/* The numbers as the host layer reads them, as text: those given by option, else the
 * defaults; 0 with why when a required one is missing. */
static int named_numbers(const struct request *r, const char **texts, char (*own)[16], char *why,
                         size_t size) {
    int k, value;
    for (k = 0; k < kelvane_host_number_count(r->operation); ++k) {
        texts[k] = r->named[k];
        if (texts[k]) continue;
        if (!kelvane_host_number_default(r->operation, k, &value)) {
            snprintf(why, size, "%s needs --%s", kelvane_host_operation_name(r->operation),
                     kelvane_host_number_option(r->operation, k));
            return 0;
        }
        snprintf(own[k], sizeof own[k], "%d", value);
        texts[k] = own[k];
    }
    return 1;
}

/* The words of the job on `in` and `out` with the request's numbers: by option (always with
 * --out-dir), else the operands after the two paths; their count, or 0 with why. */
static int job_words(const struct request *r, const char *in, const char *out, char **rest,
                     int rest_count, const char **words, char (*own)[16], char *why, size_t size) {
    int k;
    words[0] = kelvane_host_operation_name(r->operation);
    words[1] = in;
    words[2] = out;
    if (r->named_given || r->out_dir) {
        if (rest_count > 0) {
            snprintf(why, size, "numbers by option and in order at once ('%s')", rest[0]);
            return 0;
        }
        return named_numbers(r, words + 3, own, why, size)
                   ? 3 + kelvane_host_number_count(r->operation)
                   : 0;
    }
    if (rest_count > max_words - 3) rest_count = max_words - 2; /* too many: the host says so */
    for (k = 0; k < rest_count; ++k) words[3 + k] = rest[k];
    return 3 + rest_count;
}

static struct tool_job *one_job(struct plan *plan) {
    plan->jobs = calloc(1, sizeof *plan->jobs);
    plan->count = plan->jobs ? 1 : 0;
    return plan->jobs;
}

static int single_plan(const struct request *r, struct plan *plan) {
    const char *words[max_words + 1];
    char own[KELVANE_HOST_MAX_NUMBERS][16], why[text_size];
    struct tool_job *job;
    int count;
    if (r->operand_count < 2) return bad("a job needs IN and OUT", r->operation);
    count = job_words(r, r->operands[0], r->operands[1], r->operands + 2, r->operand_count - 2,
                      words, own, why, sizeof why);
    if (!count || !kelvane_host_read_words(words, count, KELVANE_HOST_STREAMS, &plan->single, why,
                                           sizeof why))
        return bad(why, r->operation);
    if (r->format && strcmp(plan->single.out_path, "-") != 0)
        return bad(
            "--format is for '-' as OUT and for --out-dir (a file's format follows its name)",
            r->operation);
    if (!(job = one_job(plan))) return bad("out of memory", -1);
    job->job = &plan->single;
    job->first_of_input = 1;
    plan->label = label_single;
    return 0;
}

/* ---- --out-dir: one job an input, each output named after its input ----------------------- */

static const char *base_name(const char *path) {
    const char *slash = strrchr(path, '/');
#ifdef _WIN32
    const char *backslash = strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash)) slash = backslash;
#endif
    return slash ? slash + 1 : path;
}

/* DIR/NAME.EXT for the input: its name without its extension, and the format's, or the input's
 * own where it names one the library writes (else the first: PNG). */
static char *output_for(const char *dir, const char *in, const char *format) {
    const char *base = base_name(in), *dot = strrchr(base, '.');
    const size_t stem = dot && dot != base ? (size_t)(dot - base) : strlen(base);
    const char *extension = format ? format
                            : dot && dot != base && !kelvane_host_output_warning(base, NULL, 0)
                                ? dot + 1
                                : kelvane_host_format(0);
    const size_t length = strlen(dir), size = length + stem + strlen(extension) + 3;
    char *out = malloc(size);
    if (out)
        snprintf(out, size, "%s%s%.*s.%s", dir, length && dir[length - 1] == '/' ? "" : "/",
                 (int)stem, base, extension);
    return out;
}

/* Whether the existing output `out` (its facts in *o) is the file at `in`. */
static int same_file(const char *out, const struct stat *o, const char *in, struct stat *i) {
#ifdef _WIN32
    (void)o; /* no inode numbers: the names decide */
    (void)i;
    return strcmp(out, in) == 0;
#else
    (void)out;
    return stat(in, i) == 0 && i->st_dev == o->st_dev && i->st_ino == o->st_ino;
#endif
}

/* Two inputs that would write one output, or an output that would replace an input: said, and
 * 1. */
static int conflicting(const struct request *r, char **outputs) {
    int i, k, found = 0;
    for (i = 0; i < r->operand_count; ++i) {
        struct stat out, in;
        for (k = 0; k < i; ++k)
            if (strcmp(outputs[i], outputs[k]) == 0) {
                fprintf(stderr, "kelvane: '%s' and '%s' would both write '%s'\n", r->operands[k],
                        r->operands[i], outputs[i]);
                found = 1;
            }
        if (stat(outputs[i], &out) != 0) continue;
        for (k = 0; k < r->operand_count; ++k)
            if (same_file(outputs[i], &out, r->operands[k], &in)) {
                fprintf(stderr, "kelvane: the output of '%s' would replace the input '%s'\n",
                        r->operands[i], r->operands[k]);
                found = 1;
            }
    }
    return found;
}

static int add_input_jobs(const struct request *r, struct plan *plan) {
    const char *words[max_words];
    char own[KELVANE_HOST_MAX_NUMBERS][16], why[text_size];
    int i, count = 0;
    for (i = 0; i < r->operand_count; ++i) {
        if (!(count = job_words(r, r->operands[i], plan->outputs[i], NULL, 0, words, own, why,
                                sizeof why)))
            return bad(why, r->operation);
        if (!kelvane_host_add_words(plan->list, words, count)) return bad("out of memory", -1);
    }
    for (i = 0; i < kelvane_host_problem_count(plan->list); ++i) {
        const char *problem = kelvane_host_problem(plan->list, i);
        fprintf(stderr, "kelvane: '%s': %s\n", r->operands[atoi(problem + 5) - 1],
                strchr(problem, ':') + 2);
    }
    return kelvane_host_problem_count(plan->list) ? (print_usage(stderr, r->operation), 2) : 0;
}

static int many_plan(const struct request *r, struct plan *plan) {
    int i, status;
    if (r->operand_count == 0) return bad("--out-dir needs at least one IN", r->operation);
    if (tool_make_folder(r->out_dir) != 0 && errno != EEXIST) {
        fprintf(stderr, "kelvane: cannot make the folder '%s': %s\n", r->out_dir, strerror(errno));
        return 2;
    }
    plan->outputs = calloc((size_t)r->operand_count, sizeof *plan->outputs);
    plan->list = kelvane_host_new_jobs();
    for (i = 0; plan->outputs && plan->list && i < r->operand_count; ++i, ++plan->output_count)
        if (!(plan->outputs[i] = output_for(r->out_dir, r->operands[i], r->format)))
            return bad("out of memory", -1);
    if (!plan->outputs || !plan->list) return bad("out of memory", -1);
    if ((status = add_input_jobs(r, plan)) != 0) return status;
    if (conflicting(r, plan->outputs)) return (print_usage(stderr, r->operation), 2);
    plan->label = label_input;
    return 0;
}

/* ---- batch: the jobs of a list ---------------------------------------------------------- */

/* The whole of `file`, malloc'd, its size in *size; NULL on a read error or without memory. */
static char *read_all(FILE *file, size_t *size) {
    size_t capacity = 1 << 16;
    char *text = malloc(capacity);
    *size = 0;
    while (text) {
        const size_t n = fread(text + *size, 1, capacity - *size, file);
        *size += n;
        if (n == 0) break;
        if (*size == capacity) {
            char *grown = realloc(text, capacity *= 2);
            if (!grown) free(text);
            text = grown;
        }
    }
    if (text && ferror(file)) {
        free(text);
        text = NULL;
    }
    return text;
}

static int read_list(const char *path, struct plan *plan) {
    FILE *file = strcmp(path, "-") == 0 ? stdin : tool_fopen(path, "rb");
    size_t size;
    char *text;
    int i;
    if (!file) {
        fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
        return 2;
    }
    errno = 0;
    text = read_all(file, &size);
    if (!text) fprintf(stderr, "kelvane: cannot read the list '%s': %s\n", path, strerror(errno));
    if (file != stdin) fclose(file);
    if (!text) return 2;
    plan->list = kelvane_host_read_jobs(text, size);
    free(text);
    if (!plan->list) return bad("out of memory reading the list", -1);
    for (i = 0; i < kelvane_host_problem_count(plan->list); ++i)
        fprintf(stderr, "%s\n", kelvane_host_problem(plan->list, i));
    return kelvane_host_problem_count(plan->list) ? 2 : 0;
}

static int list_plan(const struct request *r, struct plan *plan) {
    int status;
    if (r->operand_count != 1)
        return bad(r->operand_count ? "batch takes one LIST"
                                    : "batch needs a LIST of jobs "
                                      "('-': standard input)",
                   -1);
    if ((status = read_list(r->operands[0], plan)) != 0) return status;
    plan->label = label_line;
    return 0;
}

/* ---- every plan ------------------------------------------------------------------------ */

static int by_input_then_line(const void *a, const void *b) {
    const struct tool_job *x = *(const struct tool_job *const *)a;
    const struct tool_job *y = *(const struct tool_job *const *)b;
    const int order = strcmp(x->job->in_path, y->job->in_path);
    return order ? order : x->line - y->line;
}

/* The first job of each input says what there is to say about the input, once. */
static void mark_first_inputs(struct tool_job *jobs, size_t count) {
    struct tool_job **order = malloc((count ? count : 1) * sizeof *order);
    size_t i;
    for (i = 0; i < count; ++i) jobs[i].first_of_input = order == NULL;
    if (!order) return;
    for (i = 0; i < count; ++i) order[i] = &jobs[i];
    qsort(order, count, sizeof *order, by_input_then_line);
    for (i = 0; i < count; ++i)
        order[i]->first_of_input =
            i == 0 || strcmp(order[i - 1]->job->in_path, order[i]->job->in_path);
    free(order);
}

static int list_jobs(struct plan *plan) {
    size_t i;
    plan->count = (size_t)kelvane_host_job_count(plan->list);
    plan->jobs = calloc(plan->count ? plan->count : 1, sizeof *plan->jobs);
    if (!plan->jobs) return bad("out of memory", -1);
    for (i = 0; i < plan->count; ++i)
        plan->jobs[i].job = kelvane_host_job(plan->list, (int)i, &plan->jobs[i].line);
    mark_first_inputs(plan->jobs, plan->count);
    return 0;
}

int make_plan(const struct request *r, struct plan *plan) {
    int status;
    memset(plan, 0, sizeof *plan);
    if (r->kind == request_batch)
        status = list_plan(r, plan);
    else if (r->out_dir)
        status = many_plan(r, plan);
    else
        return single_plan(r, plan);
    return status ? status : list_jobs(plan);
}

void free_plan(struct plan *plan) {
    size_t i;
    for (i = 0; i < plan->output_count; ++i) free(plan->outputs[i]);
    free(plan->outputs);
    kelvane_host_free_jobs(plan->list);
    free(plan->jobs);
    memset(plan, 0, sizeof *plan);
}

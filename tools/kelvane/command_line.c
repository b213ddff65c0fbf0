#include "command_line.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

enum { max_workers = 4096 };

static int say(char *why, size_t size, const char *what, const char *detail) {
    snprintf(why, size, "%s%s", what, detail);
    return 0;
}

/* `what` and the word in quotes. */
static int say_quoted(char *why, size_t size, const char *what, const char *word) {
    snprintf(why, size, "%s'%s'", what, word);
    return 0;
}

static int is_option(const char *word) { return word[0] == '-' && word[1] != '\0'; }

/* The value of the option `name` at argv[*i]: "--name=value", "--name value", or for a short
 * option "-xVALUE", "-x VALUE". NULL when the word is not that option; *missing when it is, but
 * its value is not there. */
static const char *value_of(int argc, char **argv, int *i, const char *name, int *missing) {
    const char *word = argv[*i];
    const size_t length = strlen(name);
    if (strncmp(word, name, length) != 0) return NULL;
    if (word[length] == '=' && name[1] == '-') return word + length + 1;
    if (word[length] != '\0' && name[1] != '-') return word + length;
    if (word[length] != '\0') return NULL;
    if (*i + 1 >= argc) {
        *missing = 1;
        return NULL;
    }
    return argv[++*i];
}

static int read_flag(struct request *r, const char *word) {
    struct {
        const char *names[2];
        int *flag;
    } flags[] = {{{"-k", "--keep-going"}, &r->keep_going},
                 {{"-n", "--dry-run"}, &r->dry_run},
                 {{"--json", "--json"}, &r->json},
                 {{"-q", "--quiet"}, &r->quiet},
                 {{"-v", "--verbose"}, &r->verbose},
                 {{"--no-clobber", "--no-clobber"}, &r->no_clobber}};
    size_t k;
    for (k = 0; k < sizeof flags / sizeof flags[0]; ++k)
        if (strcmp(word, flags[k].names[0]) == 0 || strcmp(word, flags[k].names[1]) == 0) {
            *flags[k].flag = 1;
            return 1;
        }
    if (strcmp(word, "-h") == 0 || strcmp(word, "--help") == 0)
        r->kind = request_help;
    else if (strcmp(word, "-V") == 0 || strcmp(word, "--version") == 0)
        r->kind = request_version;
    else
        return 0;
    return 1;
}

static int read_workers(struct request *r, const char *text, char *why, size_t size) {
    char *end;
    const long n = strtol(text, &end, 10);
    if (!*text || *end || n < 1 || n > max_workers)
        return say_quoted(why, size, "-j takes a number of processes, 1 to 4096, not ", text);
    r->workers = (int)n;
    return 1;
}

/* The numbers the option `name` (without its dashes) gives, from `value` ("10", "255,0,0"),
 * split in place. */
static int read_numbers_option(struct request *r, const char *name, char *value, char *why,
                               size_t size) {
    int k, taken = 0, wanted = 0;
    char *at = value;
    for (k = 0; k < kelvane_host_number_count(r->operation); ++k)
        if (strcmp(kelvane_host_number_option(r->operation, k), name) == 0) ++wanted;
    for (k = 0; k < kelvane_host_number_count(r->operation); ++k) {
        if (strcmp(kelvane_host_number_option(r->operation, k), name) != 0) continue;
        r->named[k] = at;
        at = strchr(at, ',');
        ++taken;
        if (at) *at++ = '\0';
        if (!at) break;
    }
    if (taken != wanted || at) {
        snprintf(why, size, "--%s takes %d number%s, not '%s'", name, wanted,
                 wanted == 1 ? "" : "s separated by commas", value);
        return 0;
    }
    ++r->named_given;
    return 1;
}

/* An option with a value at argv[*i]: 1 when read, 0 with why, -1 when it is none of them. */
static int read_valued(struct request *r, int argc, char **argv, int *i, char *why, size_t size) {
    int missing = 0, k;
    const char *value;
    if ((value = value_of(argc, argv, i, "--format", &missing))) return r->format = value, 1;
    if ((value = value_of(argc, argv, i, "--out-dir", &missing))) return r->out_dir = value, 1;
    if ((value = value_of(argc, argv, i, "--jobs", &missing)) ||
        (!missing && (value = value_of(argc, argv, i, "-j", &missing))))
        return read_workers(r, value, why, size);
    for (k = 0; !missing && r->kind == request_job && k < kelvane_host_number_count(r->operation);
         ++k) {
        char name[64];
        snprintf(name, sizeof name, "--%s", kelvane_host_number_option(r->operation, k));
        if ((value = value_of(argc, argv, i, name, &missing)))
            return read_numbers_option(r, name + 2, (char *)value, why, size);
    }
    if (missing) return say(why, size, argv[*i], " takes a value");
    return -1;
}

/* The options from argv[*i] on, up to the first operand or past `--`. */
static int read_options(struct request *r, int argc, char **argv, int *i, char *why, size_t size) {
    for (; *i < argc && is_option(argv[*i]); ++*i) {
        int read;
        if (strcmp(argv[*i], "--") == 0) {
            ++*i;
            return 2; /* the rest are operands */
        }
        if (read_flag(r, argv[*i])) continue;
        read = read_valued(r, argc, argv, i, why, size);
        if (read == 0) return 0;
        if (read < 0) return say_quoted(why, size, "unknown option ", argv[*i]);
    }
    return 1;
}

/* Whether each option given belongs where it stands. */
static int check_request(const struct request *r, char *why, size_t size) {
    const int many = r->kind == request_batch || r->out_dir;
    if (r->quiet && r->verbose) return say(why, size, "-q and -v say the opposite", "");
    if (r->kind == request_batch && (r->format || r->out_dir))
        return say(why, size, r->format ? "--format" : "--out-dir", " is not an option of batch");
    if (!many && (r->workers || r->keep_going))
        return say(why, size, r->workers ? "-j" : "--keep-going",
                   " is for a batch or --out-dir (one job runs alone)");
    if (r->format) {
        char formats[64] = "";
        int k;
        const char *f;
        for (k = 0; (f = kelvane_host_format(k)) != NULL; ++k) {
            if (strcmp(f, r->format) == 0) return 1;
            snprintf(formats + strlen(formats), sizeof formats - strlen(formats), "%s%s",
                     k ? ", " : "", f);
        }
        snprintf(why, size, "--format takes %s, not '%s'", formats, r->format);
        return 0;
    }
    return 1;
}

int read_command_line(int argc, char **argv, struct request *r, char *why, size_t size) {
    int i = 1, read;
    memset(r, 0, sizeof *r);
    r->kind = request_job;
    r->operation = -1;
    if (!(read = read_options(r, argc, argv, &i, why, size))) return 0;
    if (r->kind == request_help || r->kind == request_version) return 1;
    if (i >= argc) return say(why, size, "no operation given", "");
    if (read == 1 && strcmp(argv[i], "batch") == 0) {
        r->kind = request_batch;
    } else if ((r->operation = kelvane_host_find_operation(argv[i])) < 0) {
        return say_quoted(why, size, "unknown operation ", argv[i]);
    }
    ++i;
    if (read == 1 && !(read = read_options(r, argc, argv, &i, why, size))) return 0;
    if (r->kind == request_help) return 1;
    r->operands = argv + i;
    r->operand_count = argc - i;
    return check_request(r, why, size);
}

void number_names(int operation, char *into, size_t size) {
    size_t at = 0;
    int k;
    into[0] = '\0';
    for (k = 0; k < kelvane_host_number_count(operation) && at + 2 < size; ++k) {
        const char *name = kelvane_host_number_name(operation, k);
        if (k) into[at++] = ' ';
        for (; *name && at + 1 < size; ++name) into[at++] = (char)toupper((unsigned char)*name);
    }
    into[at] = '\0';
}

void number_options(int operation, char *into, size_t size) {
    size_t at = 0;
    int k, value;
    into[0] = '\0';
    for (k = 0; k < kelvane_host_number_count(operation) && at + 2 < size; ++k) {
        const char *option = kelvane_host_number_option(operation, k), *name;
        const int first = k == 0 || strcmp(option, kelvane_host_number_option(operation, k - 1));
        const int optional = kelvane_host_number_default(operation, k, &value);
        if (first)
            at += (size_t)snprintf(into + at, size - at, "%s%s--%s ", k ? " " : "",
                                   optional ? "[" : "", option);
        else
            into[at++] = ',';
        for (name = kelvane_host_number_name(operation, k); *name && at + 2 < size; ++name)
            into[at++] = (char)toupper((unsigned char)*name);
        if (optional && (k + 1 == kelvane_host_number_count(operation) ||
                         strcmp(option, kelvane_host_number_option(operation, k + 1))))
            into[at++] = ']';
        into[at] = '\0';
    }
}

void print_usage(FILE *to, int operation) {
    char names[128], options[256];
    if (operation >= 0) {
        const char *name = kelvane_host_operation_name(operation);
        number_names(operation, names, sizeof names);
        number_options(operation, options, sizeof options);
        fprintf(to,
                "usage: kelvane %s [OPTIONS] [--] IN OUT %s\n"
                "       kelvane %s [OPTIONS] %s [--] IN OUT\n"
                "       kelvane %s --out-dir DIR [OPTIONS] %s [--] IN...\n",
                name, names, name, options, name, options);
    } else {
        fputs(
            "usage: kelvane [OPTIONS] OPERATION [OPTIONS] [--] IN OUT NUMBERS...\n"
            "       kelvane [OPTIONS] OPERATION --out-dir DIR [OPTIONS] [--] IN...\n"
            "       kelvane [OPTIONS] batch [OPTIONS] [--] LIST\n",
            to);
    }
    fputs("(kelvane --help for the options, the operations and their numbers)\n", to);
}

/* The operation's numbers as a job line writes them: its examples, in order. */
static void example_numbers(int operation, char *into, size_t size) {
    size_t at = 0;
    int k;
    into[0] = '\0';
    for (k = 0; k < kelvane_host_number_count(operation) && at < size; ++k)
        at += (size_t)snprintf(into + at, size - at, " %d",
                               kelvane_host_number_example(operation, k));
}

static void print_examples(FILE *to) {
    const int last = kelvane_host_operation_count() - 1;
    const char *first = kelvane_host_number_option(0, 0);
    char numbers[128];
    example_numbers(last, numbers, sizeof numbers);
    fprintf(to, "\nexamples:\n  kelvane %s photo.jpg framed.png%s\n",
            kelvane_host_operation_name(last), numbers);
    fprintf(to, "  kelvane %s --out-dir framed --format %s --%s %d -- photos/*.jpg\n",
            kelvane_host_operation_name(0), kelvane_host_format(1), first,
            kelvane_host_number_example(0, 0));
    fputs("  kelvane batch -j 4 --keep-going --json jobs.txt > results.json\n", to);
}

void print_help(FILE *to) {
    char formats[64] = "";
    const char *f;
    int op;
    for (op = 0; (f = kelvane_host_format(op)) != NULL; ++op)
        snprintf(formats + strlen(formats), sizeof formats - strlen(formats), "%s%s",
                 op ? ", " : "", f);
    print_usage(to, -1);
    fprintf(
        to,
        "\nOne job writes OUT from IN ('-': standard input or output, in %s unless --format\n"
        "says otherwise); with --out-dir, each IN goes to DIR under its own name; batch runs the\n"
        "jobs of LIST ('-': standard input), one a line as a job is written after 'kelvane'.\n"
        "OUT is written as JPEG (.jpg, .jpeg), BMP (.bmp) or PNG (any other name).\n"
        "\noptions:\n"
        "  --format FORMAT   %s: for '-' as OUT and for --out-dir\n",
        kelvane_host_format(0), formats);
    fputs(
        "  --out-dir DIR     one job for each IN, written into DIR, named after IN\n"
        "  --NUMBER VALUE    the operation's numbers by name (below), instead of in order\n"
        "  -j, --jobs N      N jobs at a time, each in a process (default: one per processor)\n"
        "  -k, --keep-going  go on after a failure (else no new job starts)\n"
        "  -n, --dry-run     check every job and input, write nothing\n"
        "  --no-clobber      keep an output that exists (its job does not run)\n"
        "  --json            one JSON object a job on standard output, and nothing else\n"
        "  -q, --quiet       failures alone; -v, --verbose: every job\n"
        "  --                the end of the options: every word after it is an operand\n"
        "  -h, --help; -V, --version\n"
        "\noperations (their numbers in order, or by name):\n",
        to);
    for (op = 0; op < kelvane_host_operation_count(); ++op) {
        char names[128], options[256];
        number_names(op, names, sizeof names);
        number_options(op, options, sizeof options);
        fprintf(to, "  %-8s IN OUT %-28s %s\n  %8s        %s\n", kelvane_host_operation_name(op),
                names, kelvane_host_operation_summary(op), "", options);
    }
    fputs(
        "\nR G B take their low 8 bits. Exit status: 0 every output written, 1 a job failed or\n"
        "did not run, 2 a bad invocation or list (nothing runs), 128 + N interrupted by\n"
        "signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP).\n",
        to);
    print_examples(to);
}

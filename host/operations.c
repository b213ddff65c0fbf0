/* The operations: their table, their numbers, and a job run through the library with its
 * message naming what the caller gave. */
#include <errno.h>
#include <kelvane.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

static int run_solid(const char *in, const char *out, const int *n) {
    return kelvane_solid(in, out, n[0], n[1], n[2], n[3]);
}
static int run_padding(const char *in, const char *out, const int *n) {
    return kelvane_padding(in, out, n[0], n[1], n[2], n[3]);
}
static int run_sides(const char *in, const char *out, const int *n) {
    return kelvane_sides(in, out, n[0], n[1], n[2], n[3], n[4], n[5], n[6]);
}
static int run_rounded(const char *in, const char *out, const int *n) {
    return kelvane_rounded(in, out, n[0]);
}
static int run_shadow(const char *in, const char *out, const int *n) {
    return kelvane_shadow(in, out, n[0], n[1], n[2], n[3], n[4], n[5]);
}

/* A width: 0 or more. An offset: any int. A colour component: the library takes its low 8 bits,
 * so 0 to 255 are taken as they are and any other int wraps. */
#define WIDTH(name, fallback, example) \
    { name, name, 0, INT_MAX, fallback, 0, example }
#define REQUIRED_WIDTH(name, example) \
    { name, name, 0, INT_MAX, 0, 1, example }
#define OFFSET(name, example) \
    { name, name, INT_MIN, INT_MAX, 0, 0, example }
#define COLOUR_PART(name, value) \
    { name, "color", 0, 255, value, 0, value }
#define COLOUR(value) COLOUR_PART("r", value), COLOUR_PART("g", value), COLOUR_PART("b", value)

static const struct host_operation operations[] = {
    {"solid",
     "a band BORDER pixels wide on every side, colour R G B",
     "Adds a band `border` (>= 0) pixels wide on every side, in the opaque colour `color`.",
     4,
     {REQUIRED_WIDTH("border", 10), COLOUR(255)},
     run_solid},
    {"padding",
     "the same as solid, under the name padding",
     "The same picture as solid; a negative `padding` is reported as padding.",
     4,
     {REQUIRED_WIDTH("padding", 10), COLOUR(255)},
     run_padding},
    {"sides",
     "a band with its own width on each side",
     "Adds a band of the opaque colour `color` with its own width (>= 0) on each side; the "
     "canvas may be at most 65536 pixels each way.",
     7,
     {WIDTH("top", 0, 10), WIDTH("right", 0, 10), WIDTH("bottom", 0, 40), WIDTH("left", 0, 10),
      COLOUR(255)},
     run_sides},
    {"rounded",
     "corners cut along anti-aliased quarter circles",
     "Cuts the corners away along anti-aliased quarter circles of `radius` (>= 0) pixels, "
     "reduced to half the shorter side; outside the arcs the picture becomes transparent (white "
     "in JPEG and BMP output).",
     1,
     {REQUIRED_WIDTH("radius", 40)},
     run_rounded},
    {"shadow",
     "a drop shadow offset by DX DY, blurred by BLUR",
     "Puts the picture over its silhouette in `color`, shifted by (`dx`, `dy`) and blurred by "
     "`blur` (>= 0); the canvas grows by |dx| + 2 * blur and |dy| + 2 * blur, at most 32768 "
     "pixels each way. Transparent pixels of the picture hide the shadow beneath them.",
     6,
     {OFFSET("dx", 10), OFFSET("dy", 10), WIDTH("blur", 0, 20), COLOUR(0)},
     run_shadow},
};
static const int operation_count = (int)(sizeof operations / sizeof operations[0]);

const char *const host_formats[] = {"png", "jpg", "jpeg", "bmp", NULL};
const char host_bytes_name[] = "<bytes>";

const struct host_operation *host_operation(int operation) {
    return operation >= 0 && operation < operation_count ? &operations[operation] : NULL;
}

int kelvane_host_operation_count(void) { return operation_count; }

int kelvane_host_find_operation(const char *name) {
    int i;
    for (i = 0; name && i < operation_count; ++i)
        if (strcmp(operations[i].name, name) == 0) return i;
    return -1;
}

const char *kelvane_host_operation_name(int operation) {
    const struct host_operation *op = host_operation(operation);
    return op ? op->name : NULL;
}

const char *kelvane_host_operation_summary(int operation) {
    const struct host_operation *op = host_operation(operation);
    return op ? op->summary : NULL;
}

const char *kelvane_host_number_name(int operation, int index) {
    const struct host_operation *op = host_operation(operation);
    return op && index >= 0 && index < op->count ? op->parameters[index].name : NULL;
}

const char *kelvane_host_number_option(int operation, int index) {
    const struct host_operation *op = host_operation(operation);
    return op && index >= 0 && index < op->count ? op->parameters[index].option : NULL;
}

int kelvane_host_number_example(int operation, int index) {
    const struct host_operation *op = host_operation(operation);
    return op && index >= 0 && index < op->count ? op->parameters[index].example : 0;
}

int kelvane_host_number_default(int operation, int index, int *value) {
    const struct host_operation *op = host_operation(operation);
    if (!op || index < 0 || index >= op->count || op->parameters[index].required) return 0;
    *value = op->parameters[index].fallback;
    return 1;
}

const char *kelvane_host_format(int index) {
    int i;
    for (i = 0; host_formats[i] && i < index; ++i) continue;
    return index >= 0 ? host_formats[i] : NULL;
}

int kelvane_host_number_count(int operation) {
    const struct host_operation *op = host_operation(operation);
    return op ? op->count : 0;
}

void host_number_names(const struct host_operation *op, char *into, size_t size) {
    int i;
    size_t at = 0;
    into[0] = '\0';
    for (i = 0; i < op->count && at + 1 < size; ++i) {
        const char *name = op->parameters[i].name;
        if (i > 0) into[at++] = ' ';
        for (; *name && at + 1 < size; ++name)
            into[at++] = (char)(*name >= 'a' && *name <= 'z' ? *name - 'a' + 'A' : *name);
    }
    into[at] = '\0';
}

/* ---- the table as JSON --------------------------------------------------------------------- */

struct builder {
    char *text;
    size_t size, capacity;
    int failed;
};

static void add(struct builder *b, const char *format, ...) HOST_PRINTF(2, 3);
static void add(struct builder *b, const char *format, ...) {
    va_list arguments;
    int n;
    for (;;) {
        va_start(arguments, format);
        n = b->failed ? 0 : vsnprintf(b->text + b->size, b->capacity - b->size, format, arguments);
        va_end(arguments);
        if (b->failed || n < 0) {
            b->failed = 1;
            return;
        }
        if ((size_t)n < b->capacity - b->size) break;
        {
            char *grown = realloc(b->text, b->capacity * 2 + (size_t)n);
            if (!grown) {
                b->failed = 1;
                return;
            }
            b->text = grown;
            b->capacity = b->capacity * 2 + (size_t)n;
        }
    }
    b->size += (size_t)n;
}

static void add_operation(struct builder *b, const struct host_operation *op) {
    int i;
    add(b, "{\"name\":\"%s\",\"summary\":\"%s\",\"description\":\"%s\",\"parameters\":[", op->name,
        op->summary, op->description);
    for (i = 0; i < op->count; ++i) {
        const struct host_parameter *p = &op->parameters[i];
        add(b, "%s{\"name\":\"%s\",\"option\":\"%s\",\"minimum\":%d,\"maximum\":%d,\"example\":%d,",
            i ? "," : "", p->name, p->option, p->minimum, p->maximum, p->example);
        if (p->required)
            add(b, "\"default\":null}");
        else
            add(b, "\"default\":%d}", p->fallback);
    }
    add(b, "]}");
}

const char *kelvane_host_table(void) {
    static char *table = NULL;
    struct builder b;
    int i;
    if (table) return table;
    b.capacity = 4096;
    b.size = 0;
    b.failed = 0;
    b.text = malloc(b.capacity);
    if (!b.text) return "{}";
    add(&b, "{\"formats\":[");
    for (i = 0; host_formats[i]; ++i) add(&b, "%s\"%s\"", i ? "," : "", host_formats[i]);
    add(&b, "],\"bytes_name\":\"%s\",\"operations\":[", host_bytes_name);
    for (i = 0; i < operation_count; ++i) {
        if (i) add(&b, ",");
        add_operation(&b, &operations[i]);
    }
    add(&b, "]}");
    if (b.failed) {
        free(b.text);
        return "{}";
    }
    table = b.text;
    return table;
}

/* ---- numbers ------------------------------------------------------------------------------- */

int kelvane_host_read_number(int operation, int index, const char *text, int *value, char *why,
                             size_t why_size) {
    const struct host_operation *op = host_operation(operation);
    char names[128];
    char *end;
    long long parsed;
    if (!op || index < 0 || index >= op->count) return host_say(why, why_size, "no such number");
    errno = 0;
    parsed = strtoll(text, &end, 10);
    if (end == text || *end != '\0') {
        host_number_names(op, names, sizeof names);
        return host_say(why, why_size, "'%s' is not a whole number (%s takes IN OUT %s)", text,
                        op->name, names);
    }
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
        return host_say(why, why_size, "'%s' is out of range: numbers go from %d to %d", text,
                        INT_MIN, INT_MAX);
    *value = (int)parsed;
    return 1;
}

int kelvane_host_check_numbers(int operation, const int *numbers, char *why, size_t why_size) {
    const struct host_operation *op = host_operation(operation);
    static const char passed[] = "cannot decode '': ";
    int ok;
    if (!op) return host_say(why, why_size, "no such operation");
    /* The library checks its numbers before it opens the input: with an empty input path, a
     * call that passes them ends at the input, which does not exist, and touches nothing. */
    op->run("", "", numbers);
    ok = strncmp(kelvane_last_error(), passed, sizeof passed - 1) == 0;
    if (!ok) host_say(why, why_size, "%s", kelvane_last_error());
    kelvane_init();
    return ok;
}

/* ---- running a job ------------------------------------------------------------------------- */

/* Whether `text` starts with the path `path` in single quotes. */
static size_t quoted_at(const char *text, const char *path) {
    const size_t length = strlen(path);
    return text[0] == '\'' && strncmp(text + 1, path, length) == 0 && text[length + 1] == '\''
               ? length + 2
               : 0;
}

void host_name_paths(const char *message, const char *in_path, const char *in_name,
                     const char *out_path, const char *out_name, char *into, size_t size) {
    size_t at = 0;
    const size_t limit = size < 512 ? size - 1 : 511; /* the library's own cut */
    while (*message && at < limit) {
        size_t skip = 0;
        const char *name = NULL;
        if (in_name && in_path && (skip = quoted_at(message, in_path)) > 0)
            name = *in_name ? in_name : host_bytes_name;
        else if (out_name && out_path && (skip = quoted_at(message, out_path)) > 0)
            name = *out_name ? out_name : host_bytes_name;
        if (!name) {
            into[at++] = *message++;
            continue;
        }
        into[at++] = '\'';
        for (; *name && at < limit; ++name) into[at++] = *name;
        if (at < limit) into[at++] = '\'';
        message += skip;
    }
    into[at] = '\0';
}

int kelvane_host_run(int operation, const char *in_path, const char *out_path, const int *numbers,
                     const char *in_name, const char *out_name, char *message,
                     size_t message_size) {
    const struct host_operation *op = host_operation(operation);
    if (message_size > 0) message[0] = '\0';
    if (!op) return host_say(message, message_size, "no such operation");
    if (op->run(in_path, out_path, numbers) == 1) return 1;
    if (message_size > 0)
        host_name_paths(kelvane_last_error(), in_path, in_name, out_path, out_name, message,
                        message_size);
    return 0;
}

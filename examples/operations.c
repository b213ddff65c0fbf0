#include "operations.h"

#include <errno.h>
#include <kelvane.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

const struct host_operation host_operations[] = {
    {"solid", "BORDER R G B", 4, "a band BORDER pixels wide on every side, colour R G B",
     run_solid},
    {"padding", "PADDING R G B", 4, "the same as solid, under the name padding", run_padding},
    {"sides", "TOP RIGHT BOTTOM LEFT R G B", 7, "a band with its own width on each side",
     run_sides},
    {"rounded", "RADIUS", 1, "corners cut along anti-aliased quarter circles", run_rounded},
    {"shadow", "DX DY BLUR R G B", 6, "a drop shadow offset by DX DY, blurred by BLUR", run_shadow},
};
const int host_operation_count = (int)(sizeof host_operations / sizeof host_operations[0]);

const struct host_operation *host_find_operation(const char *name) {
    int i;
    for (i = 0; i < host_operation_count; ++i)
        if (strcmp(host_operations[i].name, name) == 0) return &host_operations[i];
    return NULL;
}

enum host_number host_parse_int(const char *text, int *value) {
    char *end;
    long long parsed;
    errno = 0;
    parsed = strtoll(text, &end, 10);
    if (end == text || *end != '\0') return host_number_not_whole;
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return host_number_out_of_range;
    *value = (int)parsed;
    return host_number_ok;
}

/* The library's own text for a negative width among the numbers; 0 when there is none. */
static int negative_width(const struct host_operation *op, const int *n, char *why,
                          size_t why_size) {
    const char *name = op->name;
    if (strcmp(name, "sides") == 0) {
        if (n[0] >= 0 && n[1] >= 0 && n[2] >= 0 && n[3] >= 0) return 0;
        snprintf(why, why_size, "side widths must all be >= 0 (got %d,%d,%d,%d)", n[0], n[1], n[2],
                 n[3]);
        return 1;
    }
    if (strcmp(name, "shadow") == 0) {
        if (n[2] >= 0) return 0;
        snprintf(why, why_size, "blur must be >= 0 (got %d)", n[2]);
        return 1;
    }
    if (n[0] >= 0) return 0;
    snprintf(why, why_size, "%s must be >= 0 (got %d)",
             strcmp(name, "solid") == 0     ? "border width"
             : strcmp(name, "padding") == 0 ? "padding"
                                            : "radius",
             n[0]);
    return 1;
}

int host_parse_numbers(const struct host_operation *op, char *const *text, int *numbers, char *why,
                       size_t why_size) {
    int i;
    for (i = 0; i < op->count; ++i) {
        switch (host_parse_int(text[i], &numbers[i])) {
            case host_number_ok:
                break;
            case host_number_not_whole:
                snprintf(why, why_size, "'%s' is not a whole number (%s takes IN OUT %s)", text[i],
                         op->name, op->numbers);
                return 0;
            case host_number_out_of_range:
                snprintf(why, why_size, "'%s' is out of range: numbers go from %d to %d", text[i],
                         INT_MIN, INT_MAX);
                return 0;
        }
    }
    return !negative_width(op, numbers, why, why_size);
}

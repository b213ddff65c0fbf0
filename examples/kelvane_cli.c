/* kelvane: the library's operations from the shell.
 *
 *   kelvane OPERATION IN OUT NUMBERS...
 *
 * Exit status 0 when the output was written, 1 with the library's message on standard error
 * when the library refused the job, 2 for a usage error. */
#include <kelvane.h>
#include <stdio.h>
#include <string.h>

#include "operations.h"

static void usage(FILE *to) {
    int i;
    fprintf(to, "usage: kelvane OPERATION IN OUT NUMBERS...\n\noperations:\n");
    for (i = 0; i < host_operation_count; ++i)
        fprintf(to, "  %-8s IN OUT %-28s %s\n", host_operations[i].name, host_operations[i].numbers,
                host_operations[i].summary);
    fprintf(
        to,
        "\nIN is any picture stb_image reads; OUT is written as JPEG (.jpg, .jpeg), BMP (.bmp)\n"
        "or PNG (any other name). R G B take their low 8 bits.\n"
        "\nexample:\n  kelvane shadow photo.jpg framed.png 10 10 20 0 0 0\n");
}

int main(int argc, char **argv) {
    const struct host_operation *op;
    int numbers[host_max_numbers];
    int i;
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    op = host_find_operation(argv[1]);
    if (!op) {
        fprintf(stderr, "kelvane: unknown operation '%s' (try --help)\n", argv[1]);
        return 2;
    }
    if (argc != 4 + op->count) {
        fprintf(stderr, "kelvane: usage: kelvane %s IN OUT %s\n", op->name, op->numbers);
        return 2;
    }
    for (i = 0; i < op->count; ++i) {
        if (!host_parse_int(argv[4 + i], &numbers[i])) {
            fprintf(stderr, "kelvane: '%s' is not a whole number (%s takes IN OUT %s)\n",
                    argv[4 + i], op->name, op->numbers);
            return 2;
        }
    }
    if (!op->run(argv[2], argv[3], numbers)) {
        fprintf(stderr, "kelvane: %s\n", kelvane_last_error());
        return 1;
    }
    return 0;
}

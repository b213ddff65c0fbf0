/* The library's five operations described for hosts that take them by name: the command-line
 * host and the demo share this table. */
#ifndef HOST_OPERATIONS_H
#define HOST_OPERATIONS_H

#include <stddef.h>

enum { host_max_numbers = 7 };

struct host_operation {
    const char *name;
    const char *numbers; /* the names of its int arguments, in the library's order */
    int count;           /* how many there are */
    const char *summary;
    int (*run)(const char *in_path, const char *out_path, const int *numbers);
};

extern const struct host_operation host_operations[];
extern const int host_operation_count;

/* The operation called `name`, or NULL. */
const struct host_operation *host_find_operation(const char *name);

enum host_number { host_number_ok, host_number_not_whole, host_number_out_of_range };

/* Reads `text` as a whole int into *value: host_number_ok, or why it is none. */
enum host_number host_parse_int(const char *text, int *value);

/* Reads the operation's numbers from `text` (count of them, as the operation takes them); on
 * failure (a number that is not a whole int, or a negative width, which the library would refuse
 * in the same words) writes the reason, as the command line says it, into `why` and returns 0. */
int host_parse_numbers(const struct host_operation *op, char *const *text, int *numbers, char *why,
                       size_t why_size);

#endif

/* The library's five operations described for hosts that take them by name: the command-line
 * host and the demo share this table. */
#ifndef HOST_OPERATIONS_H
#define HOST_OPERATIONS_H

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

/* Reads `text` as a whole int; 0 when it is not one. */
int host_parse_int(const char *text, int *value);

#endif

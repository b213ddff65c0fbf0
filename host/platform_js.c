/* What the file system shows of a path, in WebAssembly: the JavaScript package looks, in Node
 * with its fs (js/module/imports.js), and hands the facts over; in a browser there are none. */
#include <string.h>

#include "host.h"

/* Defined by the package: fill in the eight ints of the facts, read the start of a regular
 * file; neither throws. */
extern void kelvane_js_look(const char *path, struct host_facts *facts);
extern double kelvane_js_read_start(const char *path, unsigned char *buffer, size_t size);

void host_look(const char *path, struct host_facts *facts) {
    memset(facts, 0, sizeof *facts);
    facts->kind = facts->target = host_unknown;
    kelvane_js_look(path, facts);
}

size_t host_read_start(const char *path, unsigned char *buffer, size_t size) {
    const double got = kelvane_js_read_start(path, buffer, size);
    return got > 0 ? (size_t)got : 0;
}

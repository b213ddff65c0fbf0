/* Calls the shared library from C, as a host does: the header compiles as C, the exports link,
 * and the message text is empty before the first call. Usage: c_api_test <scratch dir> */
#include <kelvane.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect_text(const char *what, const char *got, const char *want) {
    if (got == NULL || strcmp(got, want) != 0) {
        fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(NULL)", want);
        ++failures;
    }
}

int main(int argc, char **argv) {
    char missing[4096];
    const char *dir = argc > 1 ? argv[1] : ".";
    expect_text("before any call", kelvane_last_error(), "");

    snprintf(missing, sizeof missing, "%s/does-not-exist.png", dir);
    if (kelvane_solid(missing, "unused.png", 3, 0, 0, 0) != 0) ++failures;
    {
        char want[4200];
        snprintf(want, sizeof want, "cannot decode '%s': can't fopen", missing);
        expect_text("missing input", kelvane_last_error(), want);
    }
    if (kelvane_init() != 1) ++failures;
    expect_text("after init", kelvane_last_error(), "");
    if (kelvane_padding(NULL, "x.png", 1, 0, 0, 0) != 0) ++failures;
    expect_text("NULL path", kelvane_last_error(), "NULL input or output path");
    kelvane_cleanup();
    expect_text("after cleanup", kelvane_last_error(), "");
    return failures == 0 ? 0 : 1;
}

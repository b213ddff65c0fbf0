/* A program built against the installed library: writes a 1x1 PGM, frames it, and checks a
 * refusal's message. Usage: consumer <scratch dir> */
#include <kelvane.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    char in[4096], out[4096];
    FILE *f;
    if (argc != 2) return 2;
    snprintf(in, sizeof in, "%s/one.pgm", argv[1]);
    snprintf(out, sizeof out, "%s/framed.png", argv[1]);
    f = fopen(in, "wb");
    if (!f) return 2;
    fputs("P5 1 1 255\n\x80", f);
    fclose(f);
    if (kelvane_init() != 1 || kelvane_solid(in, out, 2, 1, 2, 3) != 1) {
        fprintf(stderr, "consumer: %s\n", kelvane_last_error());
        return 1;
    }
    if (kelvane_rounded(in, out, -1) != 0 ||
        strcmp(kelvane_last_error(), "radius must be >= 0 (got -1)") != 0) {
        fprintf(stderr, "consumer: unexpected message '%s'\n", kelvane_last_error());
        return 1;
    }
    kelvane_cleanup();
    puts("consumer: framed a picture and read a refusal through the installed library");
    return 0;
}

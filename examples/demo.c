/* A small host program: draws a colourful sample picture with a transparent region, decorates
 * it with each operation of the library and writes the results into one folder.
 *
 *   demo [output-folder]      (default: demo-out)
 */
#include <errno.h>
#include <kelvane.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "kelvane_host.h"
#include "paths.h"

enum { sample_w = 240, sample_h = 160, logo_w = 160, logo_h = 120 };

/* The sample: a diagonal colour sweep with three discs, a transparent hole and a fading band. */
static void draw_sample(unsigned char *rgba) {
    int x, y;
    for (y = 0; y < sample_h; ++y) {
        for (x = 0; x < sample_w; ++x) {
            unsigned char *p = rgba + 4 * (y * sample_w + x);
            const double t = (double)(x + y) / (sample_w + sample_h);
            double r = 255 * (1 - t), g = 120 + 100 * sin(6.28 * t), b = 255 * t;
            const double dx = x - 80.0, dy = y - 80.0, ex = x - 180.0, ey = y - 60.0;
            unsigned char alpha = 255;
            if (dx * dx + dy * dy < 45 * 45) r = 250, g = 210, b = 40;
            if ((x - 130) * (x - 130) + (y - 110) * (y - 110) < 30 * 30) r = 30, g = 190, b = 90;
            if (ex * ex + ey * ey < 28 * 28) alpha = 0;                 /* a hole */
            if (y >= 130) alpha = (unsigned char)(255 - (y - 130) * 8); /* fades out */
            p[0] = (unsigned char)r;
            p[1] = (unsigned char)g;
            p[2] = (unsigned char)b;
            p[3] = alpha;
        }
    }
}

/* A logo: an orange disc with a dark ring on a transparent ground, as logos often come. */
static void draw_logo(unsigned char *rgba) {
    int x, y;
    for (y = 0; y < logo_h; ++y) {
        for (x = 0; x < logo_w; ++x) {
            unsigned char *p = rgba + 4 * (y * logo_w + x);
            const double d = sqrt((x - 80.0) * (x - 80.0) + (y - 60.0) * (y - 60.0));
            const double inside = 50.5 - d; /* anti-aliased edge */
            p[0] = d > 42 ? 40 : 250;
            p[1] = d > 42 ? 40 : 150;
            p[2] = d > 42 ? 60 : 20;
            p[3] = (unsigned char)(inside >= 1 ? 255 : inside <= 0 ? 0 : 255 * inside);
        }
    }
}

/* Writes w x h RGBA pixels as an uncompressed 32-bit TGA (top-left origin, BGRA), a format
 * simple enough to write by hand; the library reads it like any other. */
static int write_tga(const char *path, const unsigned char *rgba, int w, int h) {
    unsigned char header[18] = {0};
    long i;
    FILE *f = tool_fopen(path, "wb");
    if (!f) return 0;
    header[2] = 2; /* uncompressed true-colour */
    header[12] = (unsigned char)(w & 255);
    header[13] = (unsigned char)(w >> 8);
    header[14] = (unsigned char)(h & 255);
    header[15] = (unsigned char)(h >> 8);
    header[16] = 32;
    header[17] = 0x28; /* 8 alpha bits, rows from the top */
    fwrite(header, 1, sizeof header, f);
    for (i = 0; i < (long)w * h; ++i) {
        const unsigned char bgra[4] = {rgba[4 * i + 2], rgba[4 * i + 1], rgba[4 * i],
                                       rgba[4 * i + 3]};
        fwrite(bgra, 1, 4, f);
    }
    return fclose(f) == 0;
}

/* Each job: the file it writes, then an operation and its numbers as the command-line host
 * takes them, on the sample (or the logo). */
struct job {
    const char *file;
    const char *operation;
    int numbers[KELVANE_HOST_MAX_NUMBERS];
    const char *what;
};

static const struct job jobs[] = {
    {"solid.png", "solid", {16, 255, 255, 255}, "solid border 16, white; the hole stays clear"},
    {"padding.png", "padding", {24, 20, 120, 130}, "padding 24, teal"},
    {"solid.jpg", "solid", {16, 255, 255, 255}, "solid border as JPEG: flattened onto white"},
    {"solid.bmp", "solid", {16, 255, 255, 255}, "solid border as BMP: flattened onto white"},
    {"sides.png", "sides", {8, 24, 48, 8, 60, 64, 72}, "per-side border 8 24 48 8, slate"},
    {"rounded.png", "rounded", {30}, "rounded corners, radius 30: the corners become clear"},
    {"rounded.jpg", "rounded", {30}, "rounded corners as JPEG: the corners come out white"},
    {"shadow.png", "shadow", {12, 12, 16, 0, 0, 0}, "black shadow 12 right and down, blur 16"},
    {"shadow-left.png", "shadow", {-20, -8, 6, 200, 30, 120}, "magenta shadow up-left, blur 6"},
    {"shadow.jpg",
     "shadow",
     {12, 12, 16, 0, 0, 0},
     "drop shadow as JPEG: the fringe fades to white"},
    {"logo-shadow.png",
     "shadow",
     {10, 10, 12, 0, 0, 0},
     "the logo's shadow: its transparent corners hide the shadow beneath them"},
};

int main(int argc, char **argv) {
    static unsigned char sample[sample_w * sample_h * 4], logo[logo_w * logo_h * 4];
    char **arguments = tool_utf8_arguments(argc, argv);
    const char *dir = argc > 1 ? arguments[1] : "demo-out";
    char in[1024], logo_in[1024], out[1024];
    size_t i;
    int failures = 0;

    if (tool_make_folder(dir) != 0 && errno != EEXIST) {
        fprintf(stderr, "cannot create %s: %s\n", dir, strerror(errno));
        return 1;
    }
    draw_sample(sample);
    draw_logo(logo);
    snprintf(in, sizeof in, "%s/sample.tga", dir);
    snprintf(logo_in, sizeof logo_in, "%s/logo.tga", dir);
    if (!write_tga(in, sample, sample_w, sample_h) || !write_tga(logo_in, logo, logo_w, logo_h)) {
        fprintf(stderr, "cannot write %s\n", in);
        return 1;
    }
    printf("wrote %s (%dx%d sample picture with a transparent hole)\n", in, sample_w, sample_h);
    printf("wrote %s (%dx%d logo on a transparent ground)\n", logo_in, logo_w, logo_h);

    kelvane_init();
    for (i = 0; i < sizeof jobs / sizeof jobs[0]; ++i) {
        snprintf(out, sizeof out, "%s/%s", dir, jobs[i].file);
        const int operation = kelvane_host_find_operation(jobs[i].operation);
        const char *input = strncmp(jobs[i].file, "logo", 4) == 0 ? logo_in : in;
        char message[KELVANE_HOST_TEXT_SIZE];
        if (kelvane_host_run(operation, input, out, jobs[i].numbers, NULL, NULL, message,
                             sizeof message)) {
            printf("wrote %s (%s)\n", out, jobs[i].what);
        } else {
            printf("FAILED %s: %s\n", out, message);
            ++failures;
        }
    }
    /* A refused call: nothing is written, the reason waits in kelvane_last_error(). */
    snprintf(out, sizeof out, "%s/never.png", dir);
    if (!kelvane_solid(in, out, -1, 0, 0, 0))
        printf("refused as expected: %s\n", kelvane_last_error());
    kelvane_cleanup();
    return failures == 0 ? 0 : 1;
}

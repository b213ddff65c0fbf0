/* Writes the whole-job benchmark's inputs into a folder: photo.jpg (4000x3000, opaque, quality
 * 90, smooth), noisy.jpg (the same with a camera's sensor noise) and cutout.png (1920x1080 with
 * transparency). Usage: make_inputs <folder> */
#include <stdio.h>
#include <stdlib.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "pictures.h"

static int write_picture(const char *dir, const char *name, int w, int h, enum bench_kind kind) {
    char path[4096];
    int ok;
    unsigned char *rgba = malloc((size_t)w * (size_t)h * 4);
    if (!rgba) return 0;
    bench_draw(rgba, w, h, kind);
    snprintf(path, sizeof path, "%s/%s", dir, name);
    ok = kind == BENCH_CUTOUT ? stbi_write_png(path, w, h, 4, rgba, 0)
                              : stbi_write_jpg(path, w, h, 4, rgba, 90);
    free(rgba);
    if (ok) printf("wrote %s (%dx%d)\n", path, w, h);
    return ok;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_inputs <folder>\n");
        return 2;
    }
    return write_picture(argv[1], "photo.jpg", 4000, 3000, BENCH_SMOOTH) &&
                   write_picture(argv[1], "noisy.jpg", 4000, 3000, BENCH_NOISY) &&
                   write_picture(argv[1], "cutout.png", 1920, 1080, BENCH_CUTOUT)
               ? 0
               : 1;
}

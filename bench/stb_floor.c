/* The stb floor: what any job of this kind costs with stb alone. It decodes the input, places
 * it on a fresh canvas of the output's size (RGBA for PNG, RGB for JPEG and BMP, the layout each
 * encoder takes) and encodes that canvas in the output's format, quality 90 for JPEG. With the
 * input's own size and no offset it encodes the decoded picture directly.
 *
 *   stb_floor <in> <out> [<width> <height> <x> <y>] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>

static const char *extension(const char *path) {
    const char *dot = strrchr(path, '.');
    return dot ? dot + 1 : "";
}

int main(int argc, char **argv) {
    int w, h, n, width, height, x, y, comp, ok;
    unsigned char *picture, *canvas;
    const char *ext;
    if (argc != 3 && argc != 7) {
        fprintf(stderr, "usage: stb_floor <in> <out> [<width> <height> <x> <y>]\n");
        return 2;
    }
    picture = stbi_load(argv[1], &w, &h, &n, 4);
    if (!picture) {
        fprintf(stderr, "cannot decode %s: %s\n", argv[1], stbi_failure_reason());
        return 1;
    }
    width = argc == 7 ? atoi(argv[3]) : w;
    height = argc == 7 ? atoi(argv[4]) : h;
    x = argc == 7 ? atoi(argv[5]) : 0;
    y = argc == 7 ? atoi(argv[6]) : 0;
    ext = extension(argv[2]);
    comp = strcmp(ext, "jpg") == 0 || strcmp(ext, "bmp") == 0 ? 3 : 4;

    if (comp == 4 && width == w && height == h && x == 0 && y == 0) {
        canvas = picture;
        picture = NULL;
    } else {
        int row, col;
        canvas = calloc((size_t)width * (size_t)height, (size_t)comp);
        if (!canvas) return 1;
        for (row = 0; row < h; ++row) {
            unsigned char *dst = canvas + (((size_t)(y + row) * (size_t)width) + (size_t)x) * comp;
            const unsigned char *src = picture + (size_t)row * (size_t)w * 4;
            if (comp == 4) {
                memcpy(dst, src, (size_t)w * 4);
            } else {
                for (col = 0; col < w; ++col) memcpy(dst + 3 * col, src + 4 * col, 3);
            }
        }
        stbi_image_free(picture);
    }
    if (strcmp(ext, "jpg") == 0)
        ok = stbi_write_jpg(argv[2], width, height, comp, canvas, 90);
    else if (strcmp(ext, "bmp") == 0)
        ok = stbi_write_bmp(argv[2], width, height, comp, canvas);
    else
        ok = stbi_write_png(argv[2], width, height, comp, canvas, 0);
    free(canvas);
    return ok ? 0 : 1;
}

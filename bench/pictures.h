/* The benchmarks' pictures, drawn the same way by every program that needs them: a photo-like
 * field of smooth colour with fine texture (so that encoders meet realistic data), optionally cut
 * out as a soft-edged blob with semi-transparent patches. */
#ifndef KELVANE_BENCH_PICTURES_H
#define KELVANE_BENCH_PICTURES_H

#include <math.h>
#include <stddef.h>

static unsigned char bench_clamp(double v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
}

/* A repeatable hash of a pixel's position: the texture. */
static int bench_noise(int x, int y) {
    unsigned h = (unsigned)x * 374761393u + (unsigned)y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (int)((h ^ (h >> 16)) & 31) - 16;
}

/* Fills w x h RGBA pixels. With `cutout`, alpha is 255 inside an ellipse, fades to 0 over 40
 * pixels outside it and has a few half-transparent bands; otherwise the picture is opaque. */
static void bench_draw(unsigned char *rgba, int w, int h, int cutout) {
    int x, y;
    for (y = 0; y < h; ++y) {
        for (x = 0; x < w; ++x) {
            unsigned char *p = rgba + 4 * ((size_t)y * (size_t)w + (size_t)x);
            const double u = (double)x / w, v = (double)y / h;
            const int n = bench_noise(x, y);
            p[0] = bench_clamp(128 + 90 * sin(6.0 * u + 2.0 * v) + n);
            p[1] = bench_clamp(120 + 80 * sin(4.0 * v - 3.0 * u + 1.0) + n);
            p[2] = bench_clamp(110 + 100 * cos(5.0 * u * v + 2.5 * u) + n);
            p[3] = 255;
            if (cutout) {
                const double dx = (x - w / 2.0) / (w * 0.42), dy = (y - h / 2.0) / (h * 0.42);
                const double outside = (sqrt(dx * dx + dy * dy) - 1.0) * w * 0.42;
                double a = outside <= 0 ? 255 : outside >= 40 ? 0 : 255 * (1 - outside / 40);
                if ((y / 60) % 5 == 2 && a > 128) a = 128 + (x % 97);
                p[3] = bench_clamp(a);
            }
        }
    }
}

#endif

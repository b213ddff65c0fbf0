/* The benchmarks' pictures, drawn the same way by every program that needs them: a photo-like
 * field of smooth colour with fine texture (so that encoders meet realistic data), optionally cut
 * out as a soft-edged blob with semi-transparent patches, or with a camera sensor's noise: each
 * channel of each pixel off by its own roughly Gaussian amount. */
#ifndef KELVANE_BENCH_PICTURES_H
#define KELVANE_BENCH_PICTURES_H

#include <math.h>
#include <stddef.h>

static unsigned char bench_clamp(double v) {
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
}

/* A repeatable hash of a pixel's position (and a channel): 32 bits. */
static unsigned bench_hash(int x, int y, int channel) {
    unsigned h =
        (unsigned)x * 374761393u + (unsigned)y * 668265263u + (unsigned)channel * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

/* The texture: -16 to 15, the same in every channel. */
static int bench_noise(int x, int y) { return (int)(bench_hash(x, y, 0) & 31) - 16; }

/* Sensor noise of one channel: the sum of four uniform bytes, centred, scaled to a standard
 * deviation of about 6 levels. */
static int bench_sensor_noise(int x, int y, int channel) {
    const unsigned h = bench_hash(x, y, channel + 1);
    const int sum = (int)(h & 255) + (int)(h >> 8 & 255) + (int)(h >> 16 & 255) + (int)(h >> 24);
    return (sum - 510) * 6 / 148;
}

enum bench_kind { BENCH_SMOOTH, BENCH_CUTOUT, BENCH_NOISY };

/* Fills w x h RGBA pixels. A cutout's alpha is 255 inside an ellipse, fades to 0 over 40 pixels
 * outside it and has a few half-transparent bands; the other kinds are opaque. */
static void bench_draw(unsigned char *rgba, int w, int h, enum bench_kind kind) {
    int x, y;
    for (y = 0; y < h; ++y) {
        for (x = 0; x < w; ++x) {
            unsigned char *p = rgba + 4 * ((size_t)y * (size_t)w + (size_t)x);
            const double u = (double)x / w, v = (double)y / h;
            const int n = bench_noise(x, y);
            const int noisy = kind == BENCH_NOISY;
            p[0] = bench_clamp(128 + 90 * sin(6.0 * u + 2.0 * v) + n +
                               (noisy ? bench_sensor_noise(x, y, 0) : 0));
            p[1] = bench_clamp(120 + 80 * sin(4.0 * v - 3.0 * u + 1.0) + n +
                               (noisy ? bench_sensor_noise(x, y, 1) : 0));
            p[2] = bench_clamp(110 + 100 * cos(5.0 * u * v + 2.5 * u) + n +
                               (noisy ? bench_sensor_noise(x, y, 2) : 0));
            p[3] = 255;
            if (kind == BENCH_CUTOUT) {
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

/* stb_image_write's zlib compressor as it comes (bench/stb_plain.c): the baseline of the
 * compressor benchmark in effects_bench. */
#ifndef KELVANE_BENCH_STB_PLAIN_H
#define KELVANE_BENCH_STB_PLAIN_H

#ifdef __cplusplus
extern "C" {
#endif

/* stb's zlib stream of `data` at `quality`, malloc'd. */
unsigned char *plain_zlib_compress(unsigned char *data, int size, int *out_size, int quality);

/* The bytes stb's PNG encoder hands its compressor for w x h RGBA pixels (each row's filter byte,
 * then the row filtered as stb chooses), malloc'd; NULL on failure. */
unsigned char *plain_png_rows(const unsigned char *rgba, int w, int h, int *size);

#ifdef __cplusplus
}
#endif

#endif

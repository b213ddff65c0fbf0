/* kelvane.h: borders, rounded corners and drop shadows for image files.
 *
 * Each operation reads the picture at in_path (JPEG, PNG, BMP, GIF, PSD, PIC, PNM, TGA or HDR,
 * at most 32768 pixels a side), builds the decorated picture and writes it to out_path: a JPEG
 * (quality 90) when the name ends in .jpg or .jpeg, a 24-bit BMP for .bmp (both flattened onto
 * white), otherwise an RGBA PNG. Operations return 1, or 0 with the reason in
 * kelvane_last_error() until the next call. That text is one buffer for the whole process, so
 * calls must not overlap: a host that calls from several threads serialises its calls.
 *
 * Paths are NUL-terminated bytes. POSIX systems take them as they are. On Windows a path that is
 * valid UTF-8 and holds a character beyond ASCII is read as UTF-8, so any name can be reached;
 * every other path (ASCII, or text in the ANSI code page) is passed to the system as it is. */
#ifndef KELVANE_H
#define KELVANE_H

/* The library's version: its SONAME carries the major number, and the packages all three.
 * The build takes the version from these lines. */
#define KELVANE_VERSION_MAJOR 1
#define KELVANE_VERSION_MINOR 0
#define KELVANE_VERSION_PATCH 0

#if defined(_WIN32) && defined(KELVANE_BUILD)
#define KELVANE_API __declspec(dllexport)
#elif defined(_WIN32)
#define KELVANE_API __declspec(dllimport)
#else
#define KELVANE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KELVANE_NOEXCEPT noexcept
extern "C" {
#else
#define KELVANE_NOEXCEPT
#endif

/* Empties the message text and returns 1. Nothing needs preparing; calling it is optional. */
KELVANE_API int kelvane_init(void) KELVANE_NOEXCEPT;

/* Empties the message text. Nothing needs releasing; calling it is optional. */
KELVANE_API void kelvane_cleanup(void) KELVANE_NOEXCEPT;

/* The reason for the last failure, "" after a success. Never NULL; owned by the library. */
KELVANE_API const char *kelvane_last_error(void) KELVANE_NOEXCEPT;

/* Adds a band `border` (>= 0) pixels wide on every side, in the opaque colour (r, g, b); only
 * the low 8 bits of each colour component count. */
KELVANE_API int kelvane_solid(const char *in_path, const char *out_path, int border, int r, int g,
                              int b) KELVANE_NOEXCEPT;

/* The same picture as kelvane_solid; a negative `padding` is reported as padding. */
KELVANE_API int kelvane_padding(const char *in_path, const char *out_path, int padding, int r,
                                int g, int b) KELVANE_NOEXCEPT;

/* Adds a band of the opaque colour (r, g, b) whose width is given for each side: `top`, `right`,
 * `bottom`, `left` (each >= 0). The canvas may be at most 65536 pixels on each side. */
KELVANE_API int kelvane_sides(const char *in_path, const char *out_path, int top, int right,
                              int bottom, int left, int r, int g, int b) KELVANE_NOEXCEPT;

/* Cuts the four corners away along anti-aliased quarter circles of `radius` (>= 0) pixels,
 * reduced to half the shorter side; outside the arcs the picture becomes transparent. */
KELVANE_API int kelvane_rounded(const char *in_path, const char *out_path,
                                int radius) KELVANE_NOEXCEPT;

/* Puts the picture over its own silhouette in the colour (r, g, b), shifted by (dx, dy) (any
 * sign; positive is right and down) and softened by a Gaussian blur of `blur` (>= 0) pixels. The
 * canvas is |dx| + 2 * blur wider and |dy| + 2 * blur taller than the picture, at most 32768
 * pixels each way. The picture is copied over the shadow, not blended: where it is transparent,
 * no shadow shows beneath it. */
KELVANE_API int kelvane_shadow(const char *in_path, const char *out_path, int dx, int dy, int blur,
                               int r, int g, int b) KELVANE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KELVANE_H */

/* The whole-job benchmark's jobs done with libvips, through its C API as an application would:
 *
 *   peer_vips border  IN OUT MARGIN          white band, like kelvane solid
 *   peer_vips rounded IN OUT RADIUS          corners cut to transparent
 *   peer_vips shadow  IN OUT DX DY BLUR      black shadow, Gaussian sigma BLUR / sqrt(2)
 *
 * JPEG output is written at quality 90; everything else with vips's defaults. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vips/vips.h>

static const char *saved_name(const char *out, char *buffer, size_t size) {
    const char *dot = strrchr(out, '.');
    if (dot && (strcmp(dot, ".jpg") == 0 || strcmp(dot, ".jpeg") == 0)) {
        snprintf(buffer, size, "%s[Q=90]", out);
        return buffer;
    }
    return out;
}

/* The picture with an alpha band: the input's own, or an opaque one. */
static VipsImage *with_alpha(VipsObject *scope, VipsImage *in) {
    VipsImage *out;
    if (vips_image_hasalpha(in)) return in;
    if (vips_addalpha(in, &out, NULL)) return NULL;
    vips_object_local(scope, out);
    return out;
}

static VipsImage *border(VipsObject *scope, VipsImage *in, int margin) {
    VipsImage *out;
    VipsArrayDouble *white = vips_array_double_newv(1, 255.0);
    int failed =
        vips_embed(in, &out, margin, margin, in->Xsize + 2 * margin, in->Ysize + 2 * margin,
                   "extend", VIPS_EXTEND_BACKGROUND, "background", white, NULL);
    vips_area_unref(VIPS_AREA(white));
    if (failed) return NULL;
    vips_object_local(scope, out);
    return out;
}

/* Alpha multiplied by a mask that is 0 outside four quarter circles of `radius`. */
static VipsImage *rounded(VipsObject *scope, VipsImage *in, int radius) {
    VipsImage **t = (VipsImage **)vips_object_local_array(scope, 7);
    const int w = in->Xsize, h = in->Ysize;
    double white = 255.0;
    VipsImage *rgba = with_alpha(scope, in);
    if (!rgba || vips_black(&t[0], w, h, NULL) || vips_cast_uchar(t[0], &t[6], NULL)) return NULL;
    if (!(t[1] = vips_image_copy_memory(t[6]))) return NULL;
    vips_draw_rect(t[1], &white, 1, radius, 0, w - 2 * radius, h, "fill", TRUE, NULL);
    vips_draw_rect(t[1], &white, 1, 0, radius, w, h - 2 * radius, "fill", TRUE, NULL);
    vips_draw_circle(t[1], &white, 1, radius, radius, radius, "fill", TRUE, NULL);
    vips_draw_circle(t[1], &white, 1, w - 1 - radius, radius, radius, "fill", TRUE, NULL);
    vips_draw_circle(t[1], &white, 1, radius, h - 1 - radius, radius, "fill", TRUE, NULL);
    vips_draw_circle(t[1], &white, 1, w - 1 - radius, h - 1 - radius, radius, "fill", TRUE, NULL);
    if (vips_extract_band(rgba, &t[2], 3, NULL) || vips_multiply(t[2], t[1], &t[3], NULL) ||
        vips_linear1(t[3], &t[4], 1.0 / 255.0, 0.0, "uchar", TRUE, NULL) ||
        vips_extract_band(rgba, &t[5], 0, "n", 3, NULL))
        return NULL;
    {
        VipsImage *out;
        if (vips_bandjoin2(t[5], t[4], &out, NULL)) return NULL;
        vips_object_local(scope, out);
        return out;
    }
}

/* The picture over its blurred, shifted silhouette in black. */
static VipsImage *shadow(VipsObject *scope, VipsImage *in, int dx, int dy, int blur) {
    VipsImage **t = (VipsImage **)vips_object_local_array(scope, 7);
    VipsImage *rgba = with_alpha(scope, in);
    const int w = in->Xsize, h = in->Ysize;
    const int width = w + abs(dx) + 2 * blur, height = h + abs(dy) + 2 * blur;
    const int sx = blur + (dx > 0 ? dx : 0), sy = blur + (dy > 0 ? dy : 0);
    const int px = blur + (dx < 0 ? -dx : 0), py = blur + (dy < 0 ? -dy : 0);
    VipsImage *out;
    if (!rgba || vips_extract_band(rgba, &t[0], 3, NULL) ||
        vips_embed(t[0], &t[1], sx, sy, width, height, NULL) ||
        vips_gaussblur(t[1], &t[2], blur / 1.41421356, "precision", VIPS_PRECISION_FLOAT, NULL) ||
        vips_black(&t[3], width, height, "bands", 3, NULL) ||
        vips_bandjoin2(t[3], t[2], &t[4], NULL) || vips_cast_uchar(t[4], &t[6], NULL) ||
        vips_copy(t[6], &t[5], "interpretation", VIPS_INTERPRETATION_sRGB, NULL) ||
        vips_composite2(t[5], rgba, &out, VIPS_BLEND_MODE_OVER, "x", px, "y", py, NULL))
        return NULL;
    vips_object_local(scope, out);
    return out;
}

int main(int argc, char **argv) {
    VipsObject *scope;
    VipsImage *in, *out = NULL;
    char name[4200];
    int ok;
    if (VIPS_INIT(argv[0])) vips_error_exit(NULL);
    if (argc < 5) {
        fprintf(stderr, "usage: peer_vips border|rounded|shadow IN OUT NUMBERS...\n");
        return 2;
    }
    scope = VIPS_OBJECT(vips_image_new());
    /* Only the border reads its input once, top to bottom. */
    in = strcmp(argv[1], "border") == 0
             ? vips_image_new_from_file(argv[2], "access", VIPS_ACCESS_SEQUENTIAL, NULL)
             : vips_image_new_from_file(argv[2], NULL);
    if (!in) vips_error_exit(NULL);
    vips_object_local(scope, in);
    if (strcmp(argv[1], "border") == 0)
        out = border(scope, in, atoi(argv[4]));
    else if (strcmp(argv[1], "rounded") == 0)
        out = rounded(scope, in, atoi(argv[4]));
    else if (strcmp(argv[1], "shadow") == 0 && argc == 7)
        out = shadow(scope, in, atoi(argv[4]), atoi(argv[5]), atoi(argv[6]));
    ok = out && vips_image_write_to_file(out, saved_name(argv[3], name, sizeof name), NULL) == 0;
    if (!ok) fprintf(stderr, "peer_vips: %s\n", vips_error_buffer());
    g_object_unref(scope);
    vips_shutdown();
    return ok ? 0 : 1;
}

// The exported functions. Each is only the frame that every operation follows: clear the
// message, check the paths, check its own numbers, load, build, save, report. One Image carries
// the job from the decoded picture to the saved result, and releases it on every path.
#include "kelvane.h"

#include "base/message.hpp"
#include "effects/borders.hpp"
#include "effects/rounded.hpp"
#include "effects/shadow.hpp"
#include "read/image_read.hpp"
#include "write/image_write.hpp"

using namespace kelvane;

namespace {

// Saves the result; a failure is reported with the output path and save_image's reason.
int save_or_report(const char *out_path, Image &result) noexcept {
    if (save_image(out_path, result)) return 1;
    const char *reason = *message_text() ? message_text() : "encode error";
    return fail("failed to write '%s': %s", out_path, reason);
}

// Loads the input, adds the uniform border and saves: the body of kelvane_solid and
// kelvane_padding once their own checks have passed.
int uniform_border(const char *in_path, const char *out_path, int margin, Rgb colour) noexcept {
    Image image;
    if (!load_image(in_path, image)) return 0;
    if (!solid_border(image, margin, colour)) return 0;
    return save_or_report(out_path, image);
}

}  // namespace

extern "C" {

KELVANE_API int kelvane_init(void) noexcept {
    clear_err();
    return 1;
}

KELVANE_API void kelvane_cleanup(void) noexcept { clear_err(); }

KELVANE_API const char *kelvane_last_error(void) noexcept { return message_text(); }

KELVANE_API int kelvane_solid(const char *in_path, const char *out_path, int border, int r, int g,
                              int b) noexcept {
    clear_err();
    if (!in_path || !out_path) return fail("NULL input or output path");
    if (border < 0) return fail("border width must be >= 0 (got %d)", border);
    return uniform_border(in_path, out_path, border, rgb(r, g, b));
}

KELVANE_API int kelvane_padding(const char *in_path, const char *out_path, int padding, int r,
                                int g, int b) noexcept {
    clear_err();
    if (!in_path || !out_path) return fail("NULL input or output path");
    if (padding < 0) return fail("padding must be >= 0 (got %d)", padding);
    return uniform_border(in_path, out_path, padding, rgb(r, g, b));
}

KELVANE_API int kelvane_sides(const char *in_path, const char *out_path, int top, int right,
                              int bottom, int left, int r, int g, int b) noexcept {
    clear_err();
    if (!in_path || !out_path) return fail("NULL input or output path");
    if (top < 0 || right < 0 || bottom < 0 || left < 0)
        return fail("side widths must all be >= 0 (got %d,%d,%d,%d)", top, right, bottom, left);
    Image image;
    if (!load_image(in_path, image)) return 0;
    if (!side_border(image, {top, right, bottom, left}, rgb(r, g, b))) return 0;
    return save_or_report(out_path, image);
}

KELVANE_API int kelvane_rounded(const char *in_path, const char *out_path, int radius) noexcept {
    clear_err();
    if (!in_path || !out_path) return fail("NULL input or output path");
    if (radius < 0) return fail("radius must be >= 0 (got %d)", radius);
    Image image;
    if (!load_image(in_path, image)) return 0;
    round_corners(image, radius);
    return save_or_report(out_path, image);
}

KELVANE_API int kelvane_shadow(const char *in_path, const char *out_path, int dx, int dy, int blur,
                               int r, int g, int b) noexcept {
    clear_err();
    if (!in_path || !out_path) return fail("NULL input or output path");
    if (blur < 0) return fail("blur must be >= 0 (got %d)", blur);
    if (!shadow_arguments_in_range(dx, dy, blur)) return fail_out_of_range(dx, dy, blur);
    Image image;
    if (!load_image(in_path, image)) return 0;
    ShadowGeometry geometry;
    if (!shadow_geometry(image.width, image.height, dx, dy, blur, geometry)) return 0;
    if (!build_shadow(image, geometry, rgb(r, g, b))) return 0;
    return save_or_report(out_path, image);
}

}  // extern "C"

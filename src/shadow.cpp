#include "shadow.hpp"

#include <cstring>

#include "blur.hpp"
#include "message.hpp"

namespace kelvane {
namespace {

// The picture's rectangle on the layer, in the shadow colour with the picture's alpha.
void draw_silhouette(const Image &picture, const ShadowGeometry &g, Rgb colour,
                     Image &layer) noexcept {
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t *src = picture.row(y);
        std::uint8_t *dst = layer.row(g.shadow_y + y) + std::size_t(g.shadow_x) * 4;
        for (int x = 0; x < picture.width; ++x, src += 4, dst += 4) {
            dst[0] = colour.r;
            dst[1] = colour.g;
            dst[2] = colour.b;
            dst[3] = src[3];
        }
    }
}

// Blurs the layer in place through a float intermediate.
int blur_layer(Image &layer, const ShadowGeometry &g) noexcept {
    const int taps = 2 * g.radius + 1;
    const float_buffer kernel(static_cast<float *>(std::malloc(std::size_t(taps) * sizeof(float))));
    if (!kernel) return fail("out of memory for blur kernel");
    const std::uint64_t floats = pixel_count(g.width, g.height) * 4;  // at most 2^32 at the limit
    const float_buffer intermediate(
        static_cast<float *>(std::malloc(std::size_t(floats) * sizeof(float))));
    if (!intermediate) return fail("out of memory for blur kernel");
    kernel_weights(g.blur, kernel.get());
    horizontal_pass(layer.pixels.get(), g.width, g.height, kernel.get(), g.radius,
                    intermediate.get());
    vertical_pass(intermediate.get(), g.width, g.height, kernel.get(), g.radius,
                  layer.pixels.get());
    return 1;
}

// Copies the picture's rows over the canvas: a plain copy, alpha included.
void place_picture(const Image &picture, const ShadowGeometry &g, Image &canvas) noexcept {
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(canvas.row(g.picture_y + y) + std::size_t(g.picture_x) * 4, picture.row(y),
                    picture.row_bytes());
    }
}

}  // namespace

bool shadow_arguments_in_range(int dx, int dy, int blur) noexcept {
    return dx != INT_MIN && dy != INT_MIN && blur <= INT_MAX / 2;
}

int fail_out_of_range(int dx, int dy, int blur) noexcept {
    return fail("shadow canvas too large: dx %d, dy %d and blur %d leave the int range", dx, dy,
                blur);
}

int shadow_geometry(int w, int h, int dx, int dy, int blur, ShadowGeometry &g) noexcept {
    // In 64 bits: |dx| + 2 blur + w can pass INT_MAX even when each part fits.
    const std::int64_t width =
        std::int64_t(w) + (dx < 0 ? -std::int64_t(dx) : dx) + 2 * std::int64_t(blur);
    const std::int64_t height =
        std::int64_t(h) + (dy < 0 ? -std::int64_t(dy) : dy) + 2 * std::int64_t(blur);
    if (width > INT_MAX || height > INT_MAX) return fail_out_of_range(dx, dy, blur);
    g.width = int(width);
    g.height = int(height);
    if (g.width > max_shadow_canvas || g.height > max_shadow_canvas)
        return fail("shadow canvas too large: %dx%d", g.width, g.height);
    g.shadow_x = blur + std::max(dx, 0);
    g.shadow_y = blur + std::max(dy, 0);
    g.picture_x = blur + std::max(-dx, 0);
    g.picture_y = blur + std::max(-dy, 0);
    g.blur = blur;
    g.radius = kernel_radius(blur);
    return 1;
}

int build_shadow(const Image &picture, const ShadowGeometry &g, Rgb colour,
                 Image &canvas) noexcept {
    canvas = Image{};
    canvas.pixels = alloc_pixels(g.width, g.height, 4);
    if (!canvas.pixels) return fail("out of memory for %dx%d shadow canvas", g.width, g.height);
    canvas.width = g.width;
    canvas.height = g.height;
    canvas.channels = 4;
    {
        Image layer;
        layer.pixels = alloc_pixels(g.width, g.height, 4);
        if (!layer.pixels) return fail("out of memory for shadow layer");
        layer.width = g.width;
        layer.height = g.height;
        layer.channels = 4;
        draw_silhouette(picture, g, colour, layer);
        if (g.blur > 0 && !blur_layer(layer, g)) return 0;
        std::memcpy(canvas.pixels.get(), layer.pixels.get(),
                    std::size_t(pixel_count(g.width, g.height)) * 4);
    }
    place_picture(picture, g, canvas);
    return 1;
}

}  // namespace kelvane

#include "effects/shadow.hpp"

#include <array>
#include <cassert>
#include <cstring>

#include "base/large_memory.hpp"
#include "base/message.hpp"
#include "effects/blur.hpp"

// The shadow is painted straight into the canvas around the picture, which has already been
// moved to its place there. Canvas pixels under the picture are never computed: the picture
// covers them. Outside it, every pixel is written once, row by row: zero where no shadow can
// reach, the silhouette (blur 0) or the blurred silhouette elsewhere.
//
// The blur keeps every bit of the plain two-pass definition while doing far less work:
// - only the silhouette, expanded by the kernel radius, can be non-zero, and taps outside it
//   read zeros, whose products (+0) leave every sum unchanged: they are skipped;
// - horizontal sums are kept for the last 2R + 1 silhouette rows only (a ring), and only for
//   the columns that the rows using them will write;
// - silhouette rows with the same alpha have the same horizontal sums, and an output row whose
//   2R + 1 taps all read one such row has the same bytes as any other: those are computed once.

namespace kelvane {
namespace {

// Columns [begin, end) of a canvas row.
struct Span {
    int begin, end;
    bool empty() const noexcept { return begin >= end; }
    int size() const noexcept { return end - begin; }
};

Span intersect(Span a, Span b) noexcept {
    return {std::max(a.begin, b.begin), std::min(a.end, b.end)};
}

// The parts of `row` (a span) left and right of `hole`; either may be empty.
std::array<Span, 2> around(Span row, Span hole) noexcept {
    return {Span{row.begin, std::min(row.end, hole.begin)},
            Span{std::max(row.begin, hole.end), row.end}};
}

// What the canvas holds and where: the picture (already in place) and the silhouette.
struct Scene {
    Image &canvas;
    const ShadowGeometry &geometry;
    Rgb colour;

    Span picture_columns() const noexcept {
        return {geometry.picture_x, geometry.picture_x + geometry.picture_width};
    }
    Span silhouette_columns() const noexcept {
        return {geometry.shadow_x, geometry.shadow_x + geometry.picture_width};
    }
    bool in_picture_band(int y) const noexcept {
        return y >= geometry.picture_y && y < geometry.picture_y + geometry.picture_height;
    }
    bool in_silhouette_rows(int y) const noexcept {
        return y >= geometry.shadow_y && y < geometry.shadow_y + geometry.picture_height;
    }
    // Row j of the picture, which lends the silhouette's row j its alpha.
    const std::uint8_t *picture_row(int j) const noexcept {
        return canvas.row(geometry.picture_y + j) + std::size_t(geometry.picture_x) * 4;
    }
};

// Silhouette pixels, for the hard shadow of blur 0.
class Silhouette {
  public:
    explicit Silhouette(const Scene &scene) noexcept : scene_(scene) {}

    Span columns() const noexcept { return scene_.silhouette_columns(); }
    bool covers_row(int y) const noexcept { return scene_.in_silhouette_rows(y); }

    void write(int y, Span span, std::uint8_t *dst) const noexcept {
        const std::uint8_t *src = scene_.picture_row(y - scene_.geometry.shadow_y) +
                                  std::size_t(span.begin - scene_.geometry.shadow_x) * 4;
        for (int i = 0; i < span.size(); ++i, dst += 4, src += 4) {
            dst[0] = scene_.colour.r;
            dst[1] = scene_.colour.g;
            dst[2] = scene_.colour.b;
            dst[3] = src[3];
        }
    }

  private:
    const Scene &scene_;
};

// Whether two picture rows have the same alpha samples.
bool same_alpha(const std::uint8_t *a, const std::uint8_t *b, int width) noexcept {
    for (int x = 0; x < width; ++x)
        if (a[std::size_t(x) * 4 + 3] != b[std::size_t(x) * 4 + 3]) return false;
    return true;
}

// The blurred silhouette, produced row by row as the painter asks for it.
//
// The first pass's horizontal sums are kept for the 2R + 1 silhouette rows that the vertical
// taps of the output row in hand read: a ring of 2R + 1 slots, silhouette row r in slot
// r % (2R + 1). A slot holds a row's sums over every column the shadow covers (full), or only
// over the columns left and right of the picture when no output row above or below the
// picture's band reads it (partial). Silhouette rows of equal alpha have equal sums: each row
// belongs to a class of consecutive rows of equal alpha, a row's sums are copied from the row
// above when both are of one class, and an output row whose taps all read rows of one class has
// the bytes of every other such row, computed once (the uniform row).
//
// The geometry puts the silhouette at least R pixels from every canvas edge (the canvas keeps
// `blur` >= R pixels round the silhouette and the picture), so no tap ever falls outside the
// canvas and none needs clamping.
class BlurredSilhouette {
  public:
    explicit BlurredSilhouette(const Scene &scene) noexcept
        : scene_(scene),
          radius_(scene.geometry.radius),
          taps_(2 * scene.geometry.radius + 1),
          row_pixels_(scene.geometry.picture_width + 2 * scene.geometry.radius),
          first_column_(scene.geometry.shadow_x - scene.geometry.radius) {
        [[maybe_unused]] const ShadowGeometry &at = scene.geometry;
        assert(taps_ <= max_taps);
        assert(at.shadow_x >= radius_ && at.shadow_x + at.picture_width + radius_ <= at.width);
        assert(at.shadow_y >= radius_ && at.shadow_y + at.picture_height + radius_ <= at.height);
    }

    // Gets the buffers, in the order of their messages: the shadow layer's share (the rows'
    // classes, the uniform row), then the blur's (kernel, ring, taps). 0 with the message of
    // the one refused.
    int allocate() noexcept {
        alpha_class_ = alloc_array<int>(std::uint64_t(scene_.geometry.picture_height));
        if (!alpha_class_) return fail("out of memory for shadow layer");
        uniform_row_ = alloc_array<std::uint8_t>(row_samples());
        if (!uniform_row_) return fail("out of memory for shadow layer");
        kernel_ = alloc_array<float>(std::uint64_t(taps_));
        if (!kernel_) return fail("out of memory for blur kernel");
        ring_ = alloc_array<float>(std::uint64_t(taps_) * row_samples());
        if (!ring_) return fail("out of memory for blur kernel");
        // A span's taps reach R pixels (4R samples) beyond each of its ends.
        tap_samples_ = alloc_array<float>(row_samples() + 8 * std::uint64_t(radius_));
        if (!tap_samples_) return fail("out of memory for blur kernel");
        kernel_weights(scene_.geometry.blur, kernel_.get());
        classify_rows();
        return 1;
    }

    // The silhouette expanded by the kernel radius: outside it every blurred sample is 0.
    Span columns() const noexcept { return {first_column_, first_column_ + row_pixels_}; }
    bool covers_row(int y) const noexcept {
        return y >= scene_.geometry.shadow_y - radius_ &&
               y < scene_.geometry.shadow_y + scene_.geometry.picture_height + radius_;
    }

    // The blurred bytes of row y over `span` (within columns()).
    void write(int y, Span span, std::uint8_t *dst) noexcept {
        if (window_row_ != y) gather_window(y);
        if (window_uniform_) {
            std::memcpy(dst, uniform_row_.get() + std::size_t(span.begin - first_column_) * 4,
                        std::size_t(span.size()) * 4);
            return;
        }
        sum_columns(span, dst);
    }

  private:
    static constexpr int max_taps = 2 * max_kernel_radius + 1;
    static constexpr int chunk_pixels = 64;

    // A ring slot: which silhouette row's sums it holds, and over which columns.
    struct Slot {
        int row = -1;          // the canvas row; -1 while the slot holds nothing
        int alpha_class = -1;  // that row's class
        bool full = false;     // sums over all of columns(), or only beside the picture
    };

    // The samples of one row of the shadow's columns (4 a pixel): floats in a ring slot, bytes
    // in the uniform row.
    std::uint64_t row_samples() const noexcept { return std::uint64_t(row_pixels_) * 4; }

    // Consecutive silhouette rows of equal alpha share a class; classes only grow down the rows.
    void classify_rows() noexcept {
        const int w = scene_.geometry.picture_width;
        alpha_class_[0] = 0;
        for (int j = 1; j < scene_.geometry.picture_height; ++j) {
            const bool same = same_alpha(scene_.picture_row(j), scene_.picture_row(j - 1), w);
            alpha_class_[j] = same ? alpha_class_[j - 1] : alpha_class_[j - 1] + 1;
        }
    }
    int class_of(int row) const noexcept { return alpha_class_[row - scene_.geometry.shadow_y]; }

    // Output row y's taps read rows y - R to y + R: either all rows of one class (the uniform
    // row's bytes are then row y's) or a mix, whose sums the ring must hold.
    void gather_window(int y) noexcept {
        window_row_ = y;
        const int first = y - radius_, last = y + radius_;
        window_uniform_ = scene_.in_silhouette_rows(first) && scene_.in_silhouette_rows(last) &&
                          class_of(first) == class_of(last);
        if (window_uniform_) {
            if (uniform_class_ != class_of(y)) compute_uniform_row(y);
            return;
        }
        // 2R + 1 consecutive rows: each in a slot of its own.
        for (int t = 0; t < taps_; ++t) {
            const int r = first + t;
            window_[t] = scene_.in_silhouette_rows(r) ? sums_of(r, read_beyond_band(r)) : nullptr;
        }
    }

    // The bytes of every row whose taps all read rows of row y's class.
    void compute_uniform_row(int y) noexcept {
        const float *sums = sums_of(y, true);
        for (int t = 0; t < taps_; ++t) window_[t] = sums;
        sum_columns(columns(), uniform_row_.get());
        uniform_class_ = class_of(y);
    }

    // Vertical sums of the window over `span`, rounded into dst.
    void sum_columns(Span span, std::uint8_t *dst) const noexcept {
        float sums[chunk_pixels * 4];
        for (int x = span.begin; x < span.end; x += chunk_pixels) {
            const int n = std::min(chunk_pixels, span.end - x);
            accumulate_rows(window_.data(), std::size_t(x - first_column_) * 4, n * 4,
                            kernel_.get(), taps_, sums);
            round_to_bytes(sums, n * 4, dst + std::size_t(x - span.begin) * 4);
        }
    }

    // Whether an output row above or below the picture's band reads silhouette row r, and so
    // needs its sums over all columns, not only beside the picture.
    bool read_beyond_band(int r) const noexcept {
        return !scene_.in_picture_band(r - radius_) || !scene_.in_picture_band(r + radius_);
    }

    // Silhouette row r's horizontal sums (over all columns when `full`), computed, or copied
    // from the row above when that row is of the same class, unless its slot holds them.
    const float *sums_of(int r, bool full) noexcept {
        assert(r >= 1);  // a silhouette row lies R >= 1 rows below the canvas's top
        const std::size_t samples = std::size_t(row_samples());
        Slot &slot = slots_[std::size_t(r % taps_)];
        const Slot &above = slots_[std::size_t((r - 1) % taps_)];
        float *sums = ring_.get() + std::size_t(r % taps_) * samples;
        if (slot.row == r && (slot.full || !full)) return sums;
        const int alpha_class = class_of(r);
        if (above.row == r - 1 && scene_.in_silhouette_rows(r - 1) &&
            above.alpha_class == alpha_class && (above.full || !full)) {
            std::memcpy(sums, ring_.get() + std::size_t((r - 1) % taps_) * samples,
                        samples * sizeof(float));
            full = above.full;
        } else if (full) {
            convolve_span(r, columns(), sums);
        } else {
            for (Span part : around(columns(), scene_.picture_columns()))
                if (!part.empty()) convolve_span(r, part, sums);
        }
        slot = {r, alpha_class, full};
        return sums;
    }

    // Horizontal sums of silhouette row r over `span`, into the slot's matching columns.
    void convolve_span(int r, Span span, float *slot) noexcept {
        const int shadow_x = scene_.geometry.shadow_x;
        const Span taps_from{span.begin - radius_, span.end + radius_};
        const Span lit = intersect(taps_from, scene_.silhouette_columns());
        float *taps = tap_samples_.get();
        const std::uint8_t *alpha = scene_.picture_row(r - scene_.geometry.shadow_y) + 3;
        const float rgb[3] = {float(scene_.colour.r), float(scene_.colour.g),
                              float(scene_.colour.b)};
        for (int x = taps_from.begin; x < taps_from.end; ++x) {
            float *px = taps + std::size_t(x - taps_from.begin) * 4;
            const bool inside = x >= lit.begin && x < lit.end;
            px[0] = inside ? rgb[0] : 0.0f;
            px[1] = inside ? rgb[1] : 0.0f;
            px[2] = inside ? rgb[2] : 0.0f;
            px[3] = inside ? float(alpha[std::size_t(x - shadow_x) * 4]) : 0.0f;
        }
        convolve_row(taps, span.size() * 4, kernel_.get(), taps_,
                     slot + std::size_t(span.begin - first_column_) * 4);
    }

    const Scene &scene_;
    const int radius_, taps_, row_pixels_, first_column_;
    std::unique_ptr<int[], free_deleter> alpha_class_;  // per silhouette row
    pixel_buffer uniform_row_;
    float_buffer kernel_, ring_, tap_samples_;
    std::array<Slot, max_taps> slots_{};
    std::array<const float *, max_taps> window_{};  // per tap, the sums it reads (null: zeros)
    int window_row_ = -1;                           // the output row the window was gathered for
    bool window_uniform_ = false;
    int uniform_class_ = -1;  // the class whose bytes the uniform row holds
};

// Writes every canvas pixel outside the picture: the shadow's where it reaches, 0 elsewhere.
template <class Shadow>
void paint_around_picture(const Scene &scene, Shadow &shadow) noexcept {
    Image &canvas = scene.canvas;
    const Span whole{0, canvas.width};
    for (int y = 0; y < canvas.height; ++y) {
        std::uint8_t *row = canvas.row(y);
        const std::array<Span, 2> parts = scene.in_picture_band(y)
                                              ? around(whole, scene.picture_columns())
                                              : std::array<Span, 2>{whole, Span{0, 0}};
        for (const Span part : parts) {
            if (part.empty()) continue;
            Span shade = intersect(part, shadow.columns());
            if (!shadow.covers_row(y) || shade.empty()) shade = {part.end, part.end};
            std::memset(row + std::size_t(part.begin) * 4, 0,
                        std::size_t(shade.begin - part.begin) * 4);
            if (!shade.empty()) shadow.write(y, shade, row + std::size_t(shade.begin) * 4);
            std::memset(row + std::size_t(shade.end) * 4, 0, std::size_t(part.end - shade.end) * 4);
        }
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

int shadow_geometry(int w, int h, int dx, int dy, int blur, ShadowGeometry &geometry) noexcept {
    // In 64 bits: |dx| + 2 blur + w can pass INT_MAX even when each part fits.
    const std::int64_t width =
        std::int64_t(w) + (dx < 0 ? -std::int64_t(dx) : dx) + 2 * std::int64_t(blur);
    const std::int64_t height =
        std::int64_t(h) + (dy < 0 ? -std::int64_t(dy) : dy) + 2 * std::int64_t(blur);
    if (width > INT_MAX || height > INT_MAX) return fail_out_of_range(dx, dy, blur);
    geometry.width = int(width);
    geometry.height = int(height);
    if (geometry.width > max_shadow_canvas || geometry.height > max_shadow_canvas)
        return fail("shadow canvas too large: %dx%d", geometry.width, geometry.height);
    geometry.picture_width = w;
    geometry.picture_height = h;
    geometry.shadow_x = blur + std::max(dx, 0);
    geometry.shadow_y = blur + std::max(dy, 0);
    geometry.picture_x = blur + std::max(-dx, 0);
    geometry.picture_y = blur + std::max(-dy, 0);
    geometry.blur = blur;
    geometry.radius = kernel_radius(blur);
    return 1;
}

int build_shadow(Image &image, const ShadowGeometry &geometry, Rgb colour) noexcept {
    if (!grow_into_canvas(image, geometry.width, geometry.height, geometry.picture_x,
                          geometry.picture_y))
        return fail("out of memory for %dx%d shadow canvas", geometry.width, geometry.height);
    const Scene scene{image, geometry, colour};
    if (geometry.blur == 0) {
        Silhouette silhouette(scene);
        paint_around_picture(scene, silhouette);
        return 1;
    }
    BlurredSilhouette blurred(scene);
    if (!blurred.allocate()) return 0;
    paint_around_picture(scene, blurred);
    return 1;
}

}  // namespace kelvane

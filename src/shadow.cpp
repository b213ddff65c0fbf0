#include "shadow.hpp"

#include <array>
#include <cstring>

#include "blur.hpp"
#include "large_memory.hpp"
#include "message.hpp"

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

template <class T>
std::unique_ptr<T[], free_deleter> alloc_array(std::uint64_t count) noexcept {
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[], free_deleter>(
        static_cast<T *>(large_malloc(std::size_t(count) * sizeof(T))));
}

// What the canvas holds and where: the picture (already in place) and the silhouette.
struct Scene {
    Image &canvas;
    const ShadowGeometry &g;
    Rgb colour;

    Span picture_columns() const noexcept { return {g.picture_x, g.picture_x + g.picture_width}; }
    Span silhouette_columns() const noexcept { return {g.shadow_x, g.shadow_x + g.picture_width}; }
    bool in_picture_band(int y) const noexcept {
        return y >= g.picture_y && y < g.picture_y + g.picture_height;
    }
    bool in_silhouette_rows(int y) const noexcept {
        return y >= g.shadow_y && y < g.shadow_y + g.picture_height;
    }
    // Row j of the picture, which lends the silhouette's row j its alpha.
    const std::uint8_t *picture_row(int j) const noexcept {
        return canvas.row(g.picture_y + j) + std::size_t(g.picture_x) * 4;
    }
};

// Silhouette pixels, for the hard shadow of blur 0.
class Silhouette {
  public:
    explicit Silhouette(const Scene &scene) noexcept : scene_(scene) {}

    Span columns() const noexcept { return scene_.silhouette_columns(); }
    bool covers_row(int y) const noexcept { return scene_.in_silhouette_rows(y); }

    void write(int y, Span span, std::uint8_t *dst) const noexcept {
        const std::uint8_t *src = scene_.picture_row(y - scene_.g.shadow_y) +
                                  std::size_t(span.begin - scene_.g.shadow_x) * 4;
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
class BlurredSilhouette {
  public:
    explicit BlurredSilhouette(const Scene &scene) noexcept
        : scene_(scene),
          radius_(scene.g.radius),
          taps_(2 * scene.g.radius + 1),
          row_pixels_(scene.g.picture_width + 2 * scene.g.radius),
          first_column_(scene.g.shadow_x - scene.g.radius) {
        slot_row_.fill(-1);
    }

    // Gets the buffers, in the order of their messages; 0 with the message of the one refused.
    int allocate() noexcept {
        const std::uint64_t row_floats = std::uint64_t(row_pixels_) * 4;
        row_ids_ = alloc_array<int>(std::uint64_t(scene_.g.picture_height));
        if (!row_ids_) return fail("out of memory for shadow layer");
        cache_ = alloc_array<std::uint8_t>(row_floats);
        if (!cache_) return fail("out of memory for shadow layer");
        kernel_ = alloc_array<float>(std::uint64_t(taps_));
        if (!kernel_) return fail("out of memory for blur kernel");
        ring_ = alloc_array<float>(std::uint64_t(taps_) * row_floats);
        if (!ring_) return fail("out of memory for blur kernel");
        source_ = alloc_array<float>(row_floats + std::uint64_t(radius_) * 8);
        if (!source_) return fail("out of memory for blur kernel");
        kernel_weights(scene_.g.blur, kernel_.get());
        number_rows();
        return 1;
    }

    // The silhouette expanded by the kernel radius: outside it every blurred sample is 0.
    Span columns() const noexcept { return {first_column_, first_column_ + row_pixels_}; }
    bool covers_row(int y) const noexcept {
        return y >= scene_.g.shadow_y - radius_ &&
               y < scene_.g.shadow_y + scene_.g.picture_height + radius_;
    }

    // The blurred bytes of row y over `span` (within columns()).
    void write(int y, Span span, std::uint8_t *dst) noexcept {
        if (prepared_row_ != y) prepare(y);
        if (uniform_) {
            std::memcpy(dst, cache_.get() + std::size_t(span.begin - first_column_) * 4,
                        std::size_t(span.size()) * 4);
            return;
        }
        sum_columns(span, dst);
    }

  private:
    static constexpr int chunk_pixels = 64;

    // Silhouette rows with equal alpha get the same number; numbers only grow down the rows.
    void number_rows() noexcept {
        const int w = scene_.g.picture_width;
        row_ids_[0] = 0;
        for (int j = 1; j < scene_.g.picture_height; ++j) {
            const bool same = same_alpha(scene_.picture_row(j), scene_.picture_row(j - 1), w);
            row_ids_[j] = same ? row_ids_[j - 1] : row_ids_[j - 1] + 1;
        }
    }
    int row_id(int y) const noexcept { return row_ids_[y - scene_.g.shadow_y]; }

    // Row y's taps: either all on rows of one alpha (the bytes are then those of the cache) or
    // a mix, whose horizontal sums the ring must hold.
    void prepare(int y) noexcept {
        prepared_row_ = y;
        const int first = y - radius_, last = y + radius_;
        uniform_ = scene_.in_silhouette_rows(first) && scene_.in_silhouette_rows(last) &&
                   row_id(first) == row_id(last);
        if (uniform_) {
            if (cache_id_ != row_id(y)) fill_cache(y);
            return;
        }
        for (int t = 0; t < taps_; ++t) {
            const int r = first + t;
            window_[t] = scene_.in_silhouette_rows(r) ? ensure_row(r, needs_full_row(r)) : nullptr;
        }
    }

    // The bytes of any row whose taps all read horizontal sums equal to those of row y.
    void fill_cache(int y) noexcept {
        const float *row = ensure_row(y, true);
        for (int t = 0; t < taps_; ++t) window_[t] = row;
        sum_columns(columns(), cache_.get());
        cache_id_ = row_id(y);
    }

    // Vertical sums of the current window over `span`, rounded into dst.
    void sum_columns(Span span, std::uint8_t *dst) const noexcept {
        float sums[chunk_pixels * 4];
        for (int x = span.begin; x < span.end; x += chunk_pixels) {
            const int n = std::min(chunk_pixels, span.end - x);
            accumulate_rows(window_.data(), std::size_t(x - first_column_) * 4, n * 4,
                            kernel_.get(), taps_, sums);
            round_to_bytes(sums, n * 4, dst + std::size_t(x - span.begin) * 4);
        }
    }

    // A silhouette row's horizontal sums are needed in full when an output row outside the
    // picture's band uses them; otherwise only beside the picture.
    bool needs_full_row(int r) const noexcept {
        return !scene_.in_picture_band(r - radius_) || !scene_.in_picture_band(r + radius_);
    }

    // The ring slot holding silhouette row r's horizontal sums, computed (or copied from the row
    // above when it has the same alpha) if it does not hold them yet.
    const float *ensure_row(int r, bool full) noexcept {
        const std::size_t row_floats = std::size_t(row_pixels_) * 4;
        const int slot = r % taps_, above = (r - 1) % taps_;
        float *dst = ring_.get() + std::size_t(slot) * row_floats;
        if (slot_row_[slot] == r && (slot_full_[slot] || !full)) return dst;
        const int id = row_id(r);
        if (slot_row_[above] == r - 1 && scene_.in_silhouette_rows(r - 1) &&
            slot_id_[above] == id && (slot_full_[above] || !full)) {
            std::memcpy(dst, ring_.get() + std::size_t(above) * row_floats,
                        row_floats * sizeof(float));
            full = slot_full_[above];
        } else if (full) {
            convolve_span(r, columns(), dst);
        } else {
            for (Span part : around(columns(), scene_.picture_columns()))
                if (!part.empty()) convolve_span(r, part, dst);
        }
        slot_row_[slot] = r;
        slot_id_[slot] = id;
        slot_full_[slot] = full;
        return dst;
    }

    // Horizontal sums of silhouette row r over `span`, into the slot's matching columns.
    void convolve_span(int r, Span span, float *slot) noexcept {
        const ShadowGeometry &g = scene_.g;
        const Span taps_from{span.begin - radius_, span.end + radius_};
        const Span lit = intersect(taps_from, scene_.silhouette_columns());
        float *src = source_.get();
        const std::uint8_t *alpha = scene_.picture_row(r - g.shadow_y) + 3;
        const float rgb[3] = {float(scene_.colour.r), float(scene_.colour.g),
                              float(scene_.colour.b)};
        for (int x = taps_from.begin; x < taps_from.end; ++x) {
            float *px = src + std::size_t(x - taps_from.begin) * 4;
            const bool inside = x >= lit.begin && x < lit.end;
            px[0] = inside ? rgb[0] : 0.0f;
            px[1] = inside ? rgb[1] : 0.0f;
            px[2] = inside ? rgb[2] : 0.0f;
            px[3] = inside ? float(alpha[std::size_t(x - g.shadow_x) * 4]) : 0.0f;
        }
        convolve_row(src, span.size() * 4, kernel_.get(), taps_,
                     slot + std::size_t(span.begin - first_column_) * 4);
    }

    const Scene &scene_;
    const int radius_, taps_, row_pixels_, first_column_;
    std::unique_ptr<int[], free_deleter> row_ids_;
    pixel_buffer cache_;
    float_buffer kernel_, ring_, source_;
    std::array<int, 2 * max_kernel_radius + 1> slot_row_{}, slot_id_{};
    std::array<bool, 2 * max_kernel_radius + 1> slot_full_{};
    std::array<const float *, 2 * max_kernel_radius + 1> window_{};
    int prepared_row_ = -1, cache_id_ = -1;
    bool uniform_ = false;
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
    g.picture_width = w;
    g.picture_height = h;
    g.shadow_x = blur + std::max(dx, 0);
    g.shadow_y = blur + std::max(dy, 0);
    g.picture_x = blur + std::max(-dx, 0);
    g.picture_y = blur + std::max(-dy, 0);
    g.blur = blur;
    g.radius = kernel_radius(blur);
    return 1;
}

int build_shadow(Image &image, const ShadowGeometry &g, Rgb colour) noexcept {
    if (!grow_into_canvas(image, g.width, g.height, g.picture_x, g.picture_y))
        return fail("out of memory for %dx%d shadow canvas", g.width, g.height);
    const Scene scene{image, g, colour};
    if (g.blur == 0) {
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

#include "generated.hpp"

#include <algorithm>
#include <cstdint>

namespace kelvane_test {

Picture random_picture(std::mt19937 &rng, int w, int h, Alpha kind) {
    Picture p = solid_picture(w, h, {0, 0, 0, 0});
    std::uniform_int_distribution<int> byte(0, 255), pick(0, 3), run(1, 12);
    for (std::size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = std::uint8_t(byte(rng));
    for (int y = 0, left_in_run = 0; y < h; ++y, --left_in_run) {
        if (kind == Alpha::row_runs && left_in_run <= 0) left_in_run = run(rng);
        const bool repeat = kind == Alpha::row_runs && y > 0 && left_in_run < 12 && pick(rng) != 0;
        for (int x = 0; x < w; ++x) {
            std::uint8_t &alpha = p.rgba[(std::size_t(y) * w + x) * 4 + 3];
            const int k = pick(rng);
            if (kind == Alpha::opaque) alpha = 255;
            if (kind == Alpha::clear) alpha = 0;
            if (kind != Alpha::random && kind != Alpha::row_runs) continue;
            alpha = repeat ? p.rgba[(std::size_t(y - 1) * w + x) * 4 + 3]
                           : std::uint8_t(k == 0   ? byte(rng)
                                          : k == 1 ? 0
                                                   : 255);
        }
    }
    return p;
}

Picture photo_picture(std::mt19937 &rng, int w, int h, int noise) {
    Picture p = solid_picture(w, h, {0, 0, 0, 255});
    std::uniform_int_distribution<int> offset(-noise, noise);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const int smooth = (x * (c + 1) * 3 + y * (3 - c) * 2) / 5 % 256;
                p.rgba[(std::size_t(y) * w + x) * 4 + c] =
                    std::uint8_t(std::clamp(smooth + offset(rng), 0, 255));
            }
    return p;
}

std::vector<ShadowJob> random_shadow_jobs(int count) {
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> side(1, 24), tall(1, 40), offset(-30, 30), small_blur(0, 12),
        large_blur(13, 40), colour(-300, 600), kind(0, 3), beside(0, 5);
    std::vector<ShadowJob> jobs;
    for (int round = 0; round < count; ++round) {
        const int w = round < 8 ? 1 : side(rng), h = round < 8 ? 1 + round % 2 : tall(rng);
        const Alpha alpha = Alpha(kind(rng));
        Picture picture = random_picture(rng, w, h, alpha);
        int dx = offset(rng), dy = offset(rng);
        if (round % 5 == 3) dx = (dx < 0 ? -1 : 1) * (w + beside(rng));  // wholly beside
        if (round % 7 == 5) dy = (dy < 0 ? -1 : 1) * (h + beside(rng));  // wholly above or below
        const int blur = round < 12 ? round : round % 6 == 0 ? large_blur(rng) : small_blur(rng);
        const int r = colour(rng), g = colour(rng), b = colour(rng);
        jobs.push_back({std::move(picture), alpha, dx, dy, blur, r, g, b});
    }
    return jobs;
}

}  // namespace kelvane_test

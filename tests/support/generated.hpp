// Pictures the tests make up: random samples with alpha of the kinds the shadow treats
// differently, and the random shadow jobs compared with the reference. The same on every
// machine for the same seed (the engine is std::mt19937; the distributions are libstdc++'s).
#pragma once

#include <random>
#include <vector>

#include "picture.hpp"

namespace kelvane_test {

// Alpha varying everywhere, opaque (every row alike), runs of rows that repeat, wholly clear.
enum class Alpha { random, opaque, row_runs, clear };

Picture random_picture(std::mt19937 &rng, int w, int h, Alpha kind = Alpha::random);

// Opaque, photograph-like: smooth colour gradients with each sample off by up to +-`noise`, as a
// camera's sensor leaves it; noise 0 gives the gradients alone.
Picture photo_picture(std::mt19937 &rng, int w, int h, int noise);

// A shadow job: the picture and the operation's arguments.
struct ShadowJob {
    Picture picture;
    Alpha alpha;
    int dx, dy, blur, r, g, b;
};

// `count` jobs: one-pixel pictures and blurs 0 to 11 first, then sizes up to 24 x 40, offsets
// that leave the shadow wholly beside, above or below the picture, blurs up to 40 and colours
// beyond a byte.
std::vector<ShadowJob> random_shadow_jobs(int count);

}  // namespace kelvane_test

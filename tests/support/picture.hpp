// A picture held by a test or benchmark: RGBA bytes with its size.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvane_test {

// A decoded picture: 4 bytes per pixel, RGBA, rows top to bottom.
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 0;  // what the file held
    std::vector<std::uint8_t> rgba;

    // The 4 samples of pixel (x, y).
    std::vector<std::uint8_t> at(int x, int y) const;
};

// A w x h picture whose every pixel is `pixel` (4 samples).
Picture solid_picture(int w, int h, std::vector<std::uint8_t> pixel);

}  // namespace kelvane_test

#include "picture.hpp"

#include <cstddef>

namespace kelvane_test {

std::vector<std::uint8_t> Picture::at(int x, int y) const {
    const auto first = rgba.begin() + (std::ptrdiff_t(y) * width + x) * 4;
    return {first, first + 4};
}

Picture solid_picture(int w, int h, std::vector<std::uint8_t> pixel) {
    Picture p{w, h, 4, {}};
    for (int i = 0; i < w * h; ++i) p.rgba.insert(p.rgba.end(), pixel.begin(), pixel.end());
    return p;
}

}  // namespace kelvane_test

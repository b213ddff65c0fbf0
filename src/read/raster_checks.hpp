// The checks of input_checks for the formats whose pixel data is stored raw or run-length coded
// (BMP, TGA, PSD, PNM, PIC), and what all the checks share.
#pragma once

#include <climits>
#include <cstdint>

#include "base/message.hpp"
#include "read/input_file.hpp"

namespace kelvane {

constexpr int max_decoder_side = 1 << 24;  // stb_image's own limit, STBI_MAX_DIMENSIONS

// Whether a * b * c * d has an int value, all of them non-negative: the test that the decoder
// makes of a picture's size before it allocates the picture (its stbi__mad*sizes_valid).
inline bool sizes_fit(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d = 1) noexcept {
    auto fits = [](std::int64_t x, std::int64_t y) {
        return x >= 0 && y >= 0 && (y == 0 || x <= INT_MAX / y);
    };
    return fits(a, b) && fits(a * b, c) && fits(a * b * c, d);
}

inline std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) noexcept { return (a + b - 1) / b; }

// Each: whether the decoder may have the file (see input_checks.hpp).
Verdict check_bmp(InputFile &file) noexcept;
Verdict check_tga(InputFile &file) noexcept;
Verdict check_psd(InputFile &file) noexcept;
Verdict check_pnm(InputFile &file) noexcept;
Verdict check_pic(InputFile &file) noexcept;

}  // namespace kelvane

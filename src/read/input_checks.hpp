// Checks of an input file before the decoder (stb_image 2.27 or 2.30) sees it. Each walks the
// file's structure as stb will read it and refuses, with a short reason in the decoder's style:
// - what stb would mishandle: JPEG Huffman tables that overrun its arrays ("bad DHT header"),
//   PNG data claimed past the file's end, which it would first allocate ("outofdata"), HDR runs
//   that would never end ("corrupt");
// - a file that cannot hold the pixel data it claims ("truncated", "no scans"), so that the
//   decoder's work and memory stay bounded by what the file holds: raw rows shorter than their
//   picture (BMP, TGA, PSD, PNM, HDR), run-length or compressed data shorter than the format's
//   largest expansion allows (TGA, PSD, PIC, GIF, JPEG), a JPEG frame without scans, a
//   progressive JPEG of more than 1000 scans ("too many scans");
// - what stb refuses anyway, but only after allocating the whole picture (a PIC's or GIF's
//   broken structure), with stb's own reason.
// Whatever stb refuses before it allocates is left to stb, so that its reasons stay its own.
#pragma once

#include "base/message.hpp"
#include "read/input_file.hpp"
#include "read/stb_decoder.hpp"

namespace kelvane {

// The most scans a progressive JPEG may have (real files have about 10; each costs a pass over
// every coefficient of the picture).
constexpr int max_progressive_scans = 1000;

// Whether the decoder may have the file, or the reason to refuse it.
Verdict input_refusal(StbFormat format, InputFile &file) noexcept;

}  // namespace kelvane

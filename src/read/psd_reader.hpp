// A reader for the one kind of file whose decoding stb gets wrong in a way the library cannot
// repair afterwards: PSD composites with an alpha channel.
#pragma once

#include "read/decoded.hpp"
#include "read/input_file.hpp"

namespace kelvane {

// Whether the file's first bytes announce a PSD with four or more channels (colour and alpha).
bool is_psd_with_alpha(const std::uint8_t *head, std::size_t size) noexcept;

// Decodes such a PSD exactly as stb does, but for its removal of the white matte that it assumes
// semi-transparent colours were blended with: where the composite was not matted, stb's
// un-matted value falls below 0 and its conversion to a byte is undefined; here it is held at 0.
Decoded read_psd_with_alpha(InputFile &file) noexcept;

}  // namespace kelvane

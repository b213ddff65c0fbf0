// What the library asks of stb_image beyond its public interface, answered inside the one
// translation unit that compiles it (src/stb_decoder.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

// The loaders of stb_image, in the order in which it tries them.
enum class StbFormat { unknown, png, bmp, gif, psd, pic, jpeg, pnm, hdr, tga };

// The first bytes of a file that stb's format tests look at (they read no further).
constexpr std::size_t stb_format_head = 128;

// The loader that stb_image hands a file starting with `head` to: its own tests, in its own
// order, so the library's checks of a file always concern the format stb will decode it as.
StbFormat stb_format(const std::uint8_t *head, std::size_t size) noexcept;

// The decoder keeps its last failure reason until the next failure, and a few of its paths fail
// without giving one: cleared before each decoding, such a failure reads as no reason rather
// than an old one.
void clear_decoder_reason() noexcept;

}  // namespace kelvane

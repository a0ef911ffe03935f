#pragma once
// The per-pixel key, spill suppression and alpha levels. The preview and the
// saved file both go through these functions, so they agree bit for bit.

#include <array>
#include <cstddef>
#include <cstdint>

#include "Pixel.h"

namespace Kvl {

// Writes the key alpha (255 = foreground) into a pixel whose alpha is 0, then
// suppresses spill. Only the key component and the alpha change.
void keyPixel(Pixel32& pixel, KeyChannel channel);

// Caps the key component at the mean of the other two (halved in integers).
void suppressSpill(Pixel32& pixel, KeyChannel channel);

// 255 / max(1, 255 - offset - contrast), narrowed to single precision. The
// narrowing is part of the result: it decides some levelled alphas.
float levelsGain(std::uint8_t contrast, std::uint8_t offset);

// (alpha - contrast) * gain - contrast in double precision, truncated toward
// zero and clamped to 0..255.
std::uint8_t levelAlpha(std::uint8_t alpha, std::uint8_t contrast, float gain);

// Replaces the pixel's alpha by its levelled alpha.
void applyLevels(Pixel32& pixel, std::uint8_t contrast, std::uint8_t offset);

// levelAlpha for every alpha at one setting, built from levelAlpha itself so
// that a table lookup can never disagree with the function.
using AlphaTable = std::array<std::uint8_t, 256>;
AlphaTable levelTable(std::uint8_t contrast, std::uint8_t offset);

}  // namespace Kvl

namespace Kvl {

// keyPixel over a run of pixels, from `in` to `out`: equal to keyPixel
// pixel by pixel, several pixels at a time. The two may be the same array,
// but separate arrays key several times faster.
void keyPixels(const Pixel32* in, Pixel32* out, std::size_t count, KeyChannel channel);

// Replaces each pixel's alpha by its entry in `levels`.
void levelPixels(Pixel32* pixels, std::size_t count, const AlphaTable& levels);

// keyPixel then the levels step, for a run of pixels: what the keyed writer
// does to every pixel, with the levels taken from a table of one setting.
void keyAndLevel(Pixel32* pixels, std::size_t count, KeyChannel channel, const AlphaTable& levels);
// The same from `in` to a separate `out`, which saves a copy.
void keyAndLevel(const Pixel32* in, Pixel32* out, std::size_t count, KeyChannel channel,
                 const AlphaTable& levels);

// The render's second step, for pixels whose alpha h is already levelled:
// each colour component c of `composite` becomes (c * h + K * (255 - h)) / 255
// over the checkerboard grey K, the division dropping its remainder; the
// alpha byte keeps h; `matte` gets h as grey (B = G = R = h, alpha 0).
void blendOverCheckerboard(Pixel32* composite, Pixel32* matte, const std::uint8_t* checkerboard,
                           std::size_t count);

}  // namespace Kvl

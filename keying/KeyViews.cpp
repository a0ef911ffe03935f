#include "KeyViews.h"

#include <cstdint>

namespace Kvl {
namespace {

// Rec. 601 luma, its weights in 256ths: 77 + 150 + 29 = 256.
constexpr std::uint32_t lumaOf(Pixel32 p) {
  return (77u * redOf(p) + 150u * greenOf(p) + 29u * blueOf(p) + 128u) >> 8;
}

constexpr Pixel32 statusColourOf(Pixel32 keyed) {
  const std::uint8_t alpha = alphaOf(keyed);
  if (alpha == 0) return StatusClear;
  return alpha == 255 ? StatusSolid : StatusBetween;
}

// A quarter of the dimmed plate, three quarters of the colour, rounded.
constexpr std::uint8_t mixed(std::uint32_t luma, std::uint32_t colour) {
  return static_cast<std::uint8_t>((luma + 3 * colour + 2) / 4);
}

}  // namespace

void matteAsGrey(const Pixel32* keyed, Pixel32* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t alpha = alphaOf(keyed[i]);
    out[i] = makePixel(alpha, alpha, alpha, 255);
  }
}

void statusView(const Pixel32* plate, const Pixel32* keyed, Pixel32* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t luma = lumaOf(plate[i]);
    const Pixel32 colour = statusColourOf(keyed[i]);
    out[i] = makePixel(mixed(luma, redOf(colour)), mixed(luma, greenOf(colour)), mixed(luma, blueOf(colour)), 255);
  }
}

}  // namespace Kvl

#include "Compose.h"

#include <cstdint>

namespace Kvl {
namespace {

constexpr std::uint32_t blend(std::uint32_t keyed, std::uint32_t back, std::uint32_t alpha) {
  return (keyed * alpha + back * (255 - alpha) + 127) / 255;
}

constexpr Pixel32 composePixel(Pixel32 keyed, Pixel32 back) {
  const std::uint32_t alpha = alphaOf(keyed);
  return makePixel(static_cast<std::uint8_t>(blend(redOf(keyed), redOf(back), alpha)),
                   static_cast<std::uint8_t>(blend(greenOf(keyed), greenOf(back), alpha)),
                   static_cast<std::uint8_t>(blend(blueOf(keyed), blueOf(back), alpha)), 255);
}

}  // namespace

void composeOver(Pixel32* pixels, const Pixel32* background, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) pixels[i] = composePixel(pixels[i], background[i]);
}

void composeOverColour(Pixel32* pixels, Pixel32 colour, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) pixels[i] = composePixel(pixels[i], colour);
}

}  // namespace Kvl

#pragma once
// The key, the levels and the render written the plainest way, straight
// from their arithmetic, for the tests that prove the fast paths equal.

#include <algorithm>
#include <cstdint>

#include "keying/Pixel.h"

namespace Kvl::Test {

// The threshold as a weighted mean, the excess through a real half, alpha
// added within a byte, then the key component capped at the mean.
inline Pixel32 referenceKey(Pixel32 pixel, KeyChannel channel) {
  int c[3] = {redOf(pixel), greenOf(pixel), blueOf(pixel)};
  const int k = c[channel];
  const int o1 = c[channel == 0 ? 1 : 0];
  const int o2 = c[channel == 2 ? 1 : 2];
  int alpha = alphaOf(pixel);
  if (k > (std::min(o1, o2) + 3 * std::max(o1, o2)) / 4) {
    alpha = (alpha + 255 - static_cast<int>(k - (o1 + o2) / 2.0)) % 256;
  } else {
    alpha = 255;
  }
  c[channel] = std::min(k, (o1 + o2) / 2);
  return makePixel(static_cast<std::uint8_t>(c[0]), static_cast<std::uint8_t>(c[1]),
                   static_cast<std::uint8_t>(c[2]), static_cast<std::uint8_t>(alpha));
}

// The levels curve: the gain 255 / max(1, 255 - offset - contrast) narrowed
// to single precision, (alpha - contrast) * gain - contrast in double,
// truncated toward zero and clamped.
inline std::uint8_t referenceLevel(unsigned alpha, std::uint8_t contrast, std::uint8_t offset) {
  const float gain = static_cast<float>(255.0 / std::max(1, 255 - offset - contrast));
  const double value = (static_cast<double>(alpha) - contrast) * static_cast<double>(gain) - contrast;
  return static_cast<std::uint8_t>(std::clamp(static_cast<int>(value), 0, 255));
}

// What the writer does to each pixel: the key, then the levels.
inline Pixel32 referenceKeyAndLevel(Pixel32 pixel, KeyChannel channel, std::uint8_t contrast,
                                    std::uint8_t offset) {
  const Pixel32 keyed = referenceKey(pixel, channel);
  return (keyed & 0x00FFFFFFu) | Pixel32{referenceLevel(alphaOf(keyed), contrast, offset)} << 24;
}

// One colour component over the checkerboard grey, dividing by 255 and
// dropping the remainder.
inline unsigned referenceBlend(unsigned colour, unsigned alpha, unsigned grey) {
  return (colour * alpha + grey * (255 - alpha)) / 255;
}

// The render as two plain passes over the preview: key every pixel; then
// level its alpha with the gain computed once, fill the matte and blend.
inline void referenceRender(const Pixel32* source, const std::uint8_t* checkerboard, Pixel32* composite,
                            Pixel32* matte, KeyChannel channel, std::uint8_t contrast, std::uint8_t offset) {
  for (int i = 0; i < PreviewPixelCount; ++i) {
    composite[i] = referenceKey(source[i], channel);
  }
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const unsigned h = referenceLevel(alphaOf(composite[i]), contrast, offset);
    matte[i] = h * 65793u;
    const unsigned grey = checkerboard[i];
    composite[i] = makePixel(static_cast<std::uint8_t>(referenceBlend(redOf(composite[i]), h, grey)),
                             static_cast<std::uint8_t>(referenceBlend(greenOf(composite[i]), h, grey)),
                             static_cast<std::uint8_t>(referenceBlend(blueOf(composite[i]), h, grey)),
                             static_cast<std::uint8_t>(h));
  }
}

}  // namespace Kvl::Test

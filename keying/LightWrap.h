#pragma once
// Light wrap: a subject keyed over a new background looks cut out, as no
// light of the background falls around its edges. The background, blurred
// over `radius` pixels, is mixed into the subject's colour where the
// subject's matte, blurred as far, is thin: by 1 - the blurred matte, so
// deep inside the subject nothing changes and at its rim up to half of the
// light comes from behind it. The picture is held whole: the blur reaches
// across rows.

#include <cstdint>
#include <vector>

#include "DeepPixel.h"
#include "Pixel.h"

namespace Kvl {

// The mean of each value's square neighbourhood of `radius` (fewer at the
// picture's edges), `channels` interleaved values a pixel, in place.
void boxBlur(std::vector<float>& values, std::uint32_t width, std::uint32_t height, std::size_t channels,
             int radius);

// `keyed`: width x height pixels, top row first, straight alpha; its colour
// is changed. `background(x, y)` gives the background's colour in the same
// units. Alpha is left as it is, for the composite that follows.
template <typename BackgroundAt>
void wrapLight(std::vector<PixelF>& keyed, std::uint32_t width, std::uint32_t height, int radius,
               const BackgroundAt& background);

// The same for 8-bit keyed pixels and an 8-bit background: colours in
// levels, rounded back to levels.
void wrapLight(std::vector<Pixel32>& keyed, std::uint32_t width, std::uint32_t height, int radius,
               const std::vector<Pixel32>& background);

// The float form's core, given the background already blurred (width x
// height x 3 floats).
void wrapLightBlurred(std::vector<PixelF>& keyed, std::uint32_t width, std::uint32_t height, int radius,
                      const std::vector<float>& blurredBackground);

template <typename BackgroundAt>
void wrapLight(std::vector<PixelF>& keyed, std::uint32_t width, std::uint32_t height, int radius,
               const BackgroundAt& background) {
  std::vector<float> light(std::size_t{width} * height * 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const PixelF b = background(x, y);
      float* at = light.data() + (std::size_t{y} * width + x) * 3;
      at[0] = b.red, at[1] = b.green, at[2] = b.blue;
    }
  }
  boxBlur(light, width, height, 3, radius);
  wrapLightBlurred(keyed, width, height, radius, light);
}

}  // namespace Kvl

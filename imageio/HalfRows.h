#pragma once
// Half floats and floats turned into each other a line at a time, with the
// values Imath's half gives one sample at a time: rounding to the nearest
// half, ties to the even one; too large to infinity; infinities and NaNs
// kept (a NaN's payload as far as a half holds it). Written as selects
// rather than branches, so the compiler vectorises the loops.

#include <cstddef>
#include <cstdint>

namespace Kvl {

// A line of `width` pixels between planes of halves, one a channel (red,
// green, blue, alpha), and pixels of four floats side by side. Without an
// alpha plane (null) the pixels' alpha is 1 going in, and unused going out.
struct HalfPlanes {
  const std::uint16_t* channel[4];
};
struct HalfPlanesOut {
  std::uint16_t* channel[4];
};
void planesToPixels(HalfPlanes planes, float* pixels, std::size_t width);
void pixelsToPlanes(const float* pixels, HalfPlanesOut planes, std::size_t width);

}  // namespace Kvl

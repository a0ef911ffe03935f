#pragma once
// The plate keyer for deep pictures: the same key as PlateKeyer's (the
// same backdrop model, tolerances, per-pixel arithmetic and second look at
// the edges, see docs/plate-keyer.md) on float samples, so 16-bit and float plates are
// keyed without passing through 8 bits. Samples are keyed as they are:
// a linear plate in linear light. The tolerances stay in levels of 1/255,
// and values above 1.0 are keyed and kept, not clipped.

#include <cstdint>
#include <vector>

#include "DeepPixel.h"
#include "PlateEdges.h"
#include "PlateKeyer.h"

namespace Kvl {

class DeepPlateKeyer {
public:
  DeepPlateKeyer(const PlateSettings& settings, std::uint32_t width, std::uint32_t height);

  // Writes the keyed row from `in` to `out` (which may be the same array):
  // straight alpha from 0 to 1, the colour un-mixed and despilled, unclamped.
  void keyRow(const PixelF* in, PixelF* out, std::uint32_t topRow);
  // The per-pixel key alone, without the edges' second look (keyRow is
  // this, then that look): what the key's arithmetic makes of each pixel.
  void keyPixels(const PixelF* in, PixelF* out, std::uint32_t topRow);

private:
  PlateKeyer backdrop_;  // for its backdrop rows
  std::uint32_t width_;
  std::vector<float> excess_;
  std::vector<float> nearby_;
  std::vector<float> keyed_;  // the keyed row as four planes, before it is laid out as pixels
  std::vector<PixelF> original_;  // the row as it came, for the edges' second look
  PlateKey::EdgeMarks edgeMarks_;
  PlateKey::ModelledBackdropMarks modelMarks_;  // the pass against the model's
};

}  // namespace Kvl

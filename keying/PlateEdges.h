#pragma once
// The plate keyer's second look at the edges of a keyed row: each pixel of
// the edge un-mixed against the foreground beside it (keying/PlateEdges.cpp
// explains how). Not for use outside the plate keyer.

#include <cstdint>
#include <vector>

#include "DeepPixel.h"
#include "PlateArithmetic.h"
#include "Pixel.h"

namespace Kvl::PlateKey {

// Per-pixel marks the pass works with, kept between rows so that a row
// allocates nothing.
struct EdgeMarks {
  std::vector<SolidRun> solidRuns;        // the row's runs of solid pixels, left to right
  std::vector<std::uint8_t> surelySolid;  // keyed solid amid solid ones
  std::vector<std::uint8_t> solidRim;     // keyed solid near one that is not
  std::vector<std::uint8_t> nearSure;     // within reach of a surely solid one
  std::vector<std::uint8_t> unmixed;      // written by the pass, un-mixed against a candidate
};

// Refines the keyed row `out` (the key's output) of the row `original` as it
// came, against the backdrop colour of each pixel (`backdrop`: the row's
// reds, then greens, then blues, in levels). The row alone decides it.
// `mayHaveLowExcess` is false only where no pixel of the row lies over a
// backdrop with less key-channel excess than the two tolerances together
// (PlateKeyer::mayHaveLowExcess): the pass then passes over the pixels the
// key cleared without reading them.
void refineEdges(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop, KeyChannel channel,
                 Tolerances t, bool mayHaveLowExcess, EdgeMarks& marks);
// The same for float samples (1.0 is 255 levels), unclamped as the float
// key writes them.
void refineEdges(const PixelF* original, PixelF* out, std::uint32_t width, const float* backdrop, KeyChannel channel,
                 Tolerances t, bool mayHaveLowExcess, EdgeMarks& marks);

}  // namespace Kvl::PlateKey

#pragma once
// The plate keyer's pass for a row keyed against a clean plate: with the
// backdrop behind every pixel known, not modelled, each pixel's difference
// from it over the whole colour vector says how much foreground it holds
// (keying/CleanPlateEdges.cpp explains how). Not for use outside the plate
// keyer, and only where a clean plate is given.

#include <cstdint>
#include <vector>

#include "PlateArithmetic.h"
#include "Pixel.h"

namespace Kvl::PlateKey {

// Per-pixel values the pass works with, kept between rows so that a row
// allocates nothing.
struct CleanPlateMarks {
  std::vector<float> difference;  // the pixel less its backdrop: width x 3
  std::vector<float> length;      // that difference's length
  std::vector<std::uint8_t> surelySolid;    // keyed solid amid solid ones
  std::vector<std::uint32_t> solidColumns;  // those pixels' columns, left to right
};

// Keys again the row `out` (the key's and the edge pass's output) of the row
// `original` as it came, against the clean plate's colour of each pixel
// (`backdrop`: the row's reds, then greens, then blues, in levels; and the
// row of the clean plate as it came, before smoothing, `unsmoothed`, which
// may be null). `noise`
// is the clean plate's own noise (CleanPlate::noise): a difference within a
// few times it is the backdrop, as is one within the key's backdrop
// tolerance (`backdropTolerance`, levels: it allows for the plate's
// compression, which a clean plate's smoothing does not see). The row alone
// decides it.
void keyAgainstCleanPlate(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop,
                          const Pixel32* unsmoothed, KeyChannel channel, float noise, float backdropTolerance,
                          CleanPlateMarks& marks);

}  // namespace Kvl::PlateKey

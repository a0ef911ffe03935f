#pragma once
// The plate keyer's pass for a picture keyed against a clean plate: with
// the backdrop behind every pixel known, not modelled, each pixel's
// difference from it over the whole colour vector says how much foreground
// it holds (keying/CleanPlateEdges.cpp explains how); and its sibling for a
// row keyed against the modelled backdrop. Not for use outside the plate
// keyer.

#include <cstdint>
#include <vector>

#include "CleanPlate.h"
#include "DeepPixel.h"
#include "PlateArithmetic.h"
#include "Pixel.h"

namespace Kvl::PlateKey {

// Per-pixel values of one row the pass works with, kept between rows so
// that a row allocates nothing.
struct CleanPlateMarks {
  std::vector<float> difference;  // the pixel less its backdrop: width x 3
  std::vector<float> length;      // that difference's length
};

// A whole picture as the pass sees it, top row first: the plate as it came
// (`original`), and the key's and the edge pass's output (`keyed`), which
// the pass keys again in place; `surelySolid` marks the pixels keyed solid
// amid solid ones (markSurelySolid), the candidates for the foreground.
struct CleanPlatePicture {
  const Pixel32* original = nullptr;
  Pixel32* keyed = nullptr;
  const std::uint8_t* surelySolid = nullptr;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Marks, in `marks` (width x height, top row first), the pixels of `keyed`
// that are solid and have solid pixels two on either side along the row and
// along the column. Done once every row is keyed, before any is keyed again.
void markSurelySolid(const Pixel32* keyed, std::uint32_t width, std::uint32_t height, std::uint8_t* marks);

// Keys again the row `topRow` of the picture against the clean plate's
// colour of each pixel (`backdrop`: the row's reds, then greens, then
// blues, in levels; `clean`, the clean plate, of the picture's size: its
// smoothed pixels for the foreground's candidates elsewhere, the row as it
// came before smoothing, its noise and its compression). A difference
// within a few times the noise is the backdrop, as is one within half the
// key's backdrop tolerance (`backdropTolerance`, levels). The row reads
// only its own pixels of `keyed`, so rows may be keyed again in any order,
// on any thread.
void keyAgainstCleanPlate(const CleanPlatePicture& picture, std::uint32_t topRow, const float* backdrop,
                          const CleanPlate& clean, KeyChannel channel, float backdropTolerance,
                          CleanPlateMarks& marks);

// Per-pixel marks of one row for keyAgainstModelledBackdrop, kept between
// rows so that a row allocates nothing.
struct ModelledBackdropMarks {
  std::vector<std::uint8_t> alpha;  // what the row's pixels were as keyed: 0 clear, 255 solid
  // The runs of solid pixels at least five long, left to right, each by
  // its core: the pixels that have solid ones two on either side.
  std::vector<SolidRun> solidRuns;
  std::vector<float> differences;   // per pixel: its difference from the backdrop and its length,
  std::vector<std::uint8_t> known;  // where worked out
};

// The same pass without a clean plate, a row at a time, against the
// modelled backdrop (`backdrop`, as above): the row `out` (the key's and
// the edge pass's output) of the row `original` as it came. The foreground
// is sought along the row only, among the few solid pixels nearest each
// side; a pixel the key left clear stays clear, since the model is not the
// backdrop itself, and so does one the edge pass un-mixed
// (`unmixedByEdgePass`, EdgeMarks::unmixed).
void keyAgainstModelledBackdrop(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop,
                                KeyChannel channel, float backdropTolerance, const std::uint8_t* unmixedByEdgePass,
                                ModelledBackdropMarks& marks);
// The same for float pixels (straight alpha, 0 to 1): the deep keyer's.
void keyAgainstModelledBackdrop(const PixelF* original, PixelF* out, std::uint32_t width, const float* backdrop,
                                KeyChannel channel, float backdropTolerance, const std::uint8_t* unmixedByEdgePass,
                                ModelledBackdropMarks& marks);

}  // namespace Kvl::PlateKey

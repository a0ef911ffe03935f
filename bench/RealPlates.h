#pragma once
// Keying plates made from photographs with a true matte (the alphamatting.com
// training set: hair, fur, plush toys, plants, glass). Each photograph's
// foreground colour is estimated from the photograph and its true alpha,
// placed on the plate at a chosen size (small in the frame to close-ups that
// leave it at the edges) and filmed over a lit backdrop by shootPlate: the
// same fall-off, fold, floor shadow, spill, noise and JPEG step as the
// synthetic plates.

#include <cstdint>
#include <string>
#include <vector>

#include "PlateFiles.h"
#include "Plates.h"

namespace Kvl::Bench {

struct RealPlateRecipe {
  PlateRecipe plate;  // name, backdrop, screen, JPEG quality, noise seed
  std::string photo;  // the training photograph, GT01 to GT27
  double zoom;        // plate pixels per photograph pixel
  // The photograph's point (fractions of its width and height) that lands
  // on the plate's point (fractions of the plate's): a subject cut off by
  // the photograph's bottom edge stays on the plate's bottom edge.
  double fromX, fromY, toX, toY;
};

// The plates the real-subject benchmark keys: every backdrop with subjects
// of every colour, from a fifth to four fifths of the frame.
std::vector<RealPlateRecipe> realPlates();

// Plate size of every real-subject plate.
constexpr std::uint32_t RealPlateWidth = 800;
constexpr std::uint32_t RealPlateHeight = 600;

// The foreground's straight colour and alpha (one RGBA picture) from a
// photograph and its true alpha (grey, read from the red channel): solid
// pixels keep the photograph's colour; partly covered ones are un-mixed
// against the photograph's own backdrop, filled in from where alpha is 0,
// and lean on the nearby solid colour as alpha falls.
WholePicture estimateForeground(const WholePicture& photo, const WholePicture& alpha);

// The recipe's plate from the foreground (estimateForeground's output).
Plate makeRealPlate(const RealPlateRecipe& recipe, const WholePicture& foreground,
                    const PlateEffects& effects = {});

// Share (0-1) of the plate the subject covers: its mean true alpha.
double subjectShare(const Plate& plate);

}  // namespace Kvl::Bench

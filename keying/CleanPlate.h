#pragma once
// A clean plate: a picture of the empty set, the backdrop with nothing in
// front of it. Keyed against it, every pixel is compared with the backdrop
// that really was behind it, creases, hard shadows and all, instead of
// with the smooth model fitted to the plate's visible backdrop.

#include <cstdint>
#include <vector>

#include "Pixel.h"

namespace Kvl {

struct CleanPlate {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Pixel32> pixels;  // top row first, alpha 0
  // The noise of one exposure, per channel, in levels (a standard
  // deviation): what the smoothing took out, measured robustly. 0 when not
  // measured (pixels not smoothed).
  float noise = 0;
  // The picture as it came, before the smoothing (empty when not smoothed):
  // a crease or a shadow's edge as sharp as it was, which the smoothing softens.
  std::vector<Pixel32> unsmoothed;
  // The colour quantisation step of the file it came from (0: not
  // compressed, PictureSource::colourQuantisation): a plate compressed as it
  // is bleeds colour across its edges by that much more than its noise.
  float colourQuantisation = 0;

  Pixel32 at(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * width + x]; }
};

// A picture of the empty set made ready to key against: its sensor noise,
// which would add to the plate's, averaged away over 5 x 5 pixels (a box,
// in integers: the same bytes everywhere), which keeps anything of the
// backdrop wider than a few pixels. `pixels` is top row first. The noise it
// took out is measured on the way (CleanPlate::noise).
CleanPlate smoothedCleanPlate(std::vector<Pixel32> pixels, std::uint32_t width, std::uint32_t height);

// Each pixel's median over `frames` (each width x height, top row first;
// frames of another size are left out), channel by channel, not smoothed:
// the picture of the empty set a shot's own frames give.
std::vector<Pixel32> medianOfFrames(const std::vector<std::vector<Pixel32>>& frames, std::uint32_t width,
                                    std::uint32_t height);

// A picture of the empty set from frames of a shot with its subject in
// them: each pixel's median, channel by channel, over the frames where
// `backdrop` (one byte per pixel per frame, non-zero: surely backdrop there)
// says the backdrop shows; `fallback`'s pixel where no frame shows it.
// Not smoothed. All of width x height, top row first.
std::vector<Pixel32> backdropMedianOfFrames(const std::vector<std::vector<Pixel32>>& frames,
                                            const std::vector<std::vector<std::uint8_t>>& backdrop,
                                            const std::vector<Pixel32>& fallback, std::uint32_t width,
                                            std::uint32_t height);

// Several frames of the empty set (each width x height, top row first) as
// one: each pixel's median over the frames, channel by channel, so that a
// person walking through some of them leaves nothing; then smoothed as above.
CleanPlate cleanPlateOfFrames(const std::vector<std::vector<Pixel32>>& frames, std::uint32_t width,
                              std::uint32_t height);

}  // namespace Kvl

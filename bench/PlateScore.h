#pragma once
// How far a keyed picture is from a plate's truth: the error of its matte,
// overall and by kind of pixel, how much backdrop it lets through, and how
// well it recovers the foreground's own (spill-free) colour.

#include <cstdint>
#include <span>
#include <string>

#include "keying/Pixel.h"

namespace Kvl::Bench {

struct PlateScore {
  // Mean absolute alpha error in levels (0-255) over every pixel and over the
  // pixels whose true alpha is 0 (backdrop), 255 (solid) and between (edge).
  double alphaAll = 0, alphaBackdrop = 0, alphaSolid = 0, alphaEdge = 0;
  // The share (0-1) of backdrop pixels the key leaves above alpha 32: the
  // backdrop that shows through over a new background.
  double backdropLeak = 0;
  // Mean absolute error of the straight colour per channel, in levels, over
  // the pixels whose true alpha is above 0, weighted by that alpha.
  double colour = 0;
  std::uint64_t backdropPixels = 0, solidPixels = 0, edgePixels = 0;
};

// Alpha above this counts as backdrop showing through.
constexpr std::uint8_t LeakThreshold = 32;

// Both pictures straight (not premultiplied) and of the same size, in the same
// pixel order. A class without pixels scores 0.
PlateScore scorePlate(std::span<const Pixel32> truth, std::span<const Pixel32> keyed);

// One Markdown-ready line of figures: all, backdrop, solid, edge, leak (%), colour.
std::string formatScore(const PlateScore& score);

}  // namespace Kvl::Bench

#pragma once
// How far a keyed matte is from a photograph's true alpha, by the measures
// of the alphamatting.com benchmark (Rhemann et al., CVPR 2009) and ours:
// the mean absolute error over every pixel and over the true edges, the
// backdrop left showing, the gradient and connectivity errors, and whether
// the matte came out the wrong way round.

#include <cstdint>
#include <span>
#include <string>

namespace Kvl::Bench {

struct MatteScore {
  double all = 0;     // mean absolute alpha error, levels 0-255, every pixel
  double edge = 0;    // the same over the true edges (see EdgeBand)
  double leak = 0;    // share (0-1) of true backdrop (alpha 0) keyed above 32
  double gradient = 0;      // Rhemann's gradient error over every pixel, / 1000
  double connectivity = 0;  // Rhemann's connectivity error over every pixel, / 1000
  bool inverted = false;    // closer to the inverse of the truth than to the truth
  std::uint64_t edgePixels = 0;
};

// Edge pixels: those whose true alpha is strictly between 0 and 255, and
// those within this many pixels (each way) of one.
constexpr int EdgeBand = 2;

// `truth` and `keyed`: alpha levels of width x height pixels, same order.
// Without `structural`, the gradient and connectivity errors (the slow
// ones) stay 0.
MatteScore scoreMatte(std::span<const std::uint8_t> truth, std::span<const std::uint8_t> keyed, std::uint32_t width,
                      std::uint32_t height, bool structural = true);

// all, edge, leak (%), gradient, connectivity, inverted (yes/no).
std::string formatMatteScore(const MatteScore& score);

}  // namespace Kvl::Bench

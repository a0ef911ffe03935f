#include "PlateScore.h"

#include <cstdio>
#include <cstdlib>

namespace Kvl::Bench {
namespace {

int channelError(Pixel32 a, Pixel32 b) {
  return std::abs(redOf(a) - redOf(b)) + std::abs(greenOf(a) - greenOf(b)) + std::abs(blueOf(a) - blueOf(b));
}

double meanOf(std::uint64_t sum, std::uint64_t count) { return count == 0 ? 0 : double(sum) / double(count); }

}  // namespace

PlateScore scorePlate(std::span<const Pixel32> truth, std::span<const Pixel32> keyed) {
  std::uint64_t errorSum[3] = {}, count[3] = {}, leaks = 0;
  std::uint64_t colourSum = 0, weightSum = 0;
  enum { Backdrop, Solid, Edge };
  for (std::size_t i = 0; i < truth.size() && i < keyed.size(); ++i) {
    const int trueAlpha = alphaOf(truth[i]);
    const int keyedAlpha = alphaOf(keyed[i]);
    const int kind = trueAlpha == 0 ? Backdrop : trueAlpha == 255 ? Solid : Edge;
    errorSum[kind] += static_cast<std::uint64_t>(std::abs(trueAlpha - keyedAlpha));
    ++count[kind];
    if (kind == Backdrop && keyedAlpha > LeakThreshold) ++leaks;
    colourSum += static_cast<std::uint64_t>(trueAlpha * channelError(truth[i], keyed[i]));
    weightSum += static_cast<std::uint64_t>(trueAlpha);
  }
  PlateScore score;
  score.alphaAll =
      meanOf(errorSum[Backdrop] + errorSum[Solid] + errorSum[Edge], count[Backdrop] + count[Solid] + count[Edge]);
  score.alphaBackdrop = meanOf(errorSum[Backdrop], count[Backdrop]);
  score.alphaSolid = meanOf(errorSum[Solid], count[Solid]);
  score.alphaEdge = meanOf(errorSum[Edge], count[Edge]);
  score.backdropLeak = meanOf(leaks, count[Backdrop]);
  score.colour = meanOf(colourSum, weightSum * 3);
  score.backdropPixels = count[Backdrop];
  score.solidPixels = count[Solid];
  score.edgePixels = count[Edge];
  return score;
}

std::string formatScore(const PlateScore& score) {
  char line[160];
  std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f %.2f %.2f", score.alphaAll, score.alphaBackdrop,
                score.alphaSolid, score.alphaEdge, score.backdropLeak * 100, score.colour);
  return line;
}

}  // namespace Kvl::Bench

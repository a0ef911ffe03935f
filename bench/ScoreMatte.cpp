// keyvale_score_matte: how close keyed mattes come to a plate's true alpha,
// by the measures of the alphamatting.com benchmark (MatteScore.h).
//
//   keyvale_score_matte [--quick] TRUTH.png KEYED.png...
//
// Each keyed picture is an RGBA PNG of the truth's size; only its alpha is
// scored. Prints a line per keyed picture, six figures then its name: mean
// absolute alpha error (levels, 0-255) over all pixels and over the true
// edges, the percentage of true backdrop keyed above alpha 32, the gradient
// and connectivity errors (/ 1000), and "yes" when the matte is inverted
// (closer to 255 minus the truth than to the truth), else "no". A file that
// cannot be read, or of another size, stops it with status 1. --quick skips
// the gradient and connectivity errors (printed as 0), for ranking a grid.

#include <cstdio>
#include <string>
#include <vector>

#include "MatteScore.h"
#include "PlateFiles.h"

namespace {

std::vector<std::uint8_t> alphaLevels(const Kvl::Bench::WholePicture& picture) {
  std::vector<std::uint8_t> alpha(picture.pixels.size());
  for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = Kvl::alphaOf(picture.pixels[i]);
  return alpha;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace Kvl::Bench;
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  const int first = quick ? 2 : 1;
  if (argc < first + 2) {
    std::fprintf(stderr, "usage: keyvale_score_matte [--quick] TRUTH.png KEYED.png...\n");
    return 2;
  }
  WholePicture truth;
  std::string error;
  if (!readPngWithAlpha(argv[first], truth, error)) {
    std::fprintf(stderr, "keyvale_score_matte: %s\n", error.c_str());
    return 1;
  }
  const std::vector<std::uint8_t> trueAlpha = alphaLevels(truth);
  for (int i = first + 1; i < argc; ++i) {
    WholePicture keyed;
    if (!readPngWithAlpha(argv[i], keyed, error)) {
      std::fprintf(stderr, "keyvale_score_matte: %s\n", error.c_str());
      return 1;
    }
    if (keyed.width != truth.width || keyed.height != truth.height) {
      std::fprintf(stderr, "keyvale_score_matte: %s is %ux%u, the truth %ux%u\n", argv[i], keyed.width,
                   keyed.height, truth.width, truth.height);
      return 1;
    }
    const MatteScore score = scoreMatte(trueAlpha, alphaLevels(keyed), truth.width, truth.height, !quick);
    std::printf("%s %s\n", formatMatteScore(score).c_str(), argv[i]);
  }
  return 0;
}

// keyvale_score_plate: how close keyed pictures come to a plate's truth.
//
//   keyvale_score_plate TRUTH.png KEYED.png...
//
// Each keyed picture is a straight (not premultiplied) RGBA PNG of the
// plate's size. Prints a line per keyed picture, six figures then its name:
// mean absolute alpha error (levels, 0-255) over all pixels, backdrop (true
// alpha 0), solid (true 255) and edge (between) pixels; the percentage of
// backdrop pixels keyed above alpha 32; and the mean absolute error of the
// straight colour per channel where the true alpha is above 0, weighted by it.
// A file that cannot be read, or of another size, stops it with status 1.

#include <cstdio>

#include "PlateFiles.h"
#include "PlateScore.h"

int main(int argc, char** argv) {
  using namespace Kvl::Bench;
  if (argc < 3) {
    std::fprintf(stderr, "usage: keyvale_score_plate TRUTH.png KEYED.png...\n");
    return 2;
  }
  WholePicture truth;
  std::string error;
  if (!readPngWithAlpha(argv[1], truth, error)) {
    std::fprintf(stderr, "keyvale_score_plate: %s\n", error.c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    WholePicture keyed;
    if (!readPngWithAlpha(argv[i], keyed, error)) {
      std::fprintf(stderr, "keyvale_score_plate: %s\n", error.c_str());
      return 1;
    }
    if (keyed.width != truth.width || keyed.height != truth.height) {
      std::fprintf(stderr, "keyvale_score_plate: %s is %ux%u, the truth %ux%u\n", argv[i], keyed.width, keyed.height,
                   truth.width, truth.height);
      return 1;
    }
    std::printf("%s %s\n", formatScore(scorePlate(truth.pixels, keyed.pixels)).c_str(), argv[i]);
  }
  return 0;
}

// keyvale_plate_check: checks of the plate generator and the scorer, which
// the benchmark's figures stand on. plate-bench.sh runs it first; it needs
// no test framework and prints each failure. Exit status 1 on any.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "PlateScore.h"
#include "Plates.h"

namespace {

using namespace Kvl;
using namespace Kvl::Bench;

int failures = 0;

void check(bool ok, const char* what, double got = 0) {
  if (ok) return;
  std::fprintf(stderr, "keyvale_plate_check: FAILED %s (got %g)\n", what, got);
  ++failures;
}

bool near(double a, double b) { return std::abs(a - b) < 1e-9; }

// Four pixels: backdrop, solid, and two edges (alpha 51 and 204).
std::vector<Pixel32> smallTruth() {
  return {0, makePixel(200, 100, 50, 255), makePixel(10, 20, 30, 51), makePixel(90, 90, 90, 204)};
}

void checkScorer() {
  const std::vector<Pixel32> truth = smallTruth();
  const PlateScore self = scorePlate(truth, truth);
  check(self.alphaAll == 0 && self.alphaBackdrop == 0 && self.alphaSolid == 0 && self.alphaEdge == 0 &&
            self.backdropLeak == 0 && self.colour == 0,
        "the truth scored against itself is perfect");
  check(self.backdropPixels == 1 && self.solidPixels == 1 && self.edgePixels == 2, "pixels sorted by true alpha");

  // Nothing keyed: every alpha 255, the colours right.
  std::vector<Pixel32> opaque;
  for (const Pixel32 p : truth) opaque.push_back(p | 0xFF000000u);
  const PlateScore solid = scorePlate(truth, opaque);
  check(near(solid.alphaBackdrop, 255), "an opaque key errs by 255 on the backdrop", solid.alphaBackdrop);
  check(near(solid.backdropLeak, 1), "an opaque key leaks all the backdrop", solid.backdropLeak);
  check(near(solid.alphaEdge, (204 + 51) / 2.0), "an opaque key's edge error", solid.alphaEdge);
  check(near(solid.alphaAll, (255 + 0 + 204 + 51) / 4.0), "an opaque key's overall error", solid.alphaAll);
  check(solid.colour == 0, "the backdrop's colour does not count", solid.colour);

  // Leaks start above alpha 32.
  std::vector<Pixel32> faint = truth;
  faint[0] = makePixel(0, 0, 0, LeakThreshold);
  check(scorePlate(truth, faint).backdropLeak == 0, "alpha 32 on the backdrop is no leak");
  faint[0] = makePixel(0, 0, 0, LeakThreshold + 1);
  check(near(scorePlate(truth, faint).backdropLeak, 1), "alpha 33 on the backdrop leaks");

  // Colour error is per channel and weighted by the true alpha: red off by
  // 30 on the solid pixel only gives 30 x 255 / (3 x (255 + 51 + 204)).
  std::vector<Pixel32> tinted = truth;
  tinted[1] = makePixel(230, 100, 50, 255);
  const PlateScore tint = scorePlate(truth, tinted);
  check(near(tint.colour, 30.0 * 255 / (3 * (255 + 51 + 204))), "colour error weighted by alpha", tint.colour);
  check(tint.alphaAll == 0, "colour errors leave the matte alone");
}

double lightAt(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) {
  return backdropLight(x + 0.5, y + 0.5, width, height);
}

// Without spill and noise the plate is exactly alpha x F + (1 - alpha) x B
// of its truth, so a keyer that inverted it perfectly would score 0.
void checkComposite() {
  const std::uint32_t width = 320, height = 180;
  const PlateRecipe recipe = benchmarkPlates().front();
  const Plate plate = makePlate(recipe, width, height, PlateEffects{.spill = 0, .noiseSigma = 0});
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      const double alpha = alphaOf(plate.truth[i]) / 255.0, light = lightAt(x, y, width, height);
      auto expected = [&](std::uint8_t f, std::uint8_t b) {
        return static_cast<int>(std::lround(alpha * f + (1 - alpha) * b * light));
      };
      const Pixel32 seen = plate.composite[i], truth = plate.truth[i], screen = recipe.backdrop;
      wrong += redOf(seen) != expected(redOf(truth), redOf(screen)) ||
               greenOf(seen) != expected(greenOf(truth), greenOf(screen)) ||
               blueOf(seen) != expected(blueOf(truth), blueOf(screen)) || alphaOf(seen) != 255;
    }
  }
  check(wrong == 0, "composite = alpha F + (1 - alpha) B, opaque", double(wrong));
}

void checkPlate() {
  const std::uint32_t width = 1280, height = 720;
  const PlateRecipe recipe = benchmarkPlates().front();
  const Plate plate = makePlate(recipe, width, height);
  const PlateScore classes = scorePlate(plate.truth, plate.truth);
  check(classes.backdropPixels > 0 && classes.solidPixels > 0 && classes.edgePixels > 10000,
        "backdrop, solid and plenty of edge pixels", double(classes.edgePixels));
  check(makePlate(recipe, width, height).composite == plate.composite, "the same plate every time");

  const double corners[] = {lightAt(0, 0, width, height), lightAt(width - 1, 0, width, height),
                            lightAt(0, height - 1, width, height), lightAt(width - 1, height - 1, width, height)};
  double brightest = 0;
  for (std::uint32_t y = 0; y < height; y += 8) {
    for (std::uint32_t x = 0; x < width; x += 8) brightest = std::max(brightest, lightAt(x, y, width, height));
  }
  for (const double corner : corners) check(corner <= 0.7 * brightest, "every corner 30% darker or more", corner);

  // The glass's middle is half transparent; the blurred box's edge ramps.
  const std::uint8_t glass = alphaOf(plate.truth[300 * std::size_t{width} + 1085]);
  check(glass >= 0.3 * 255 && glass <= 0.6 * 255, "the glass is 0.3 to 0.6 opaque", glass);
  int ramp = 0;
  for (std::uint32_t x = 80; x < 360; ++x) {
    const std::uint8_t alpha = alphaOf(plate.truth[210 * std::size_t{width} + x]);
    ramp += alpha > 0 && alpha < 255;
  }
  check(ramp >= 20 && ramp <= 40, "the moving box ramps over 10-20 pixels each side", ramp);

  // Spill changes what the camera saw at the edges, never the truth.
  const Plate clean = makePlate(recipe, width, height, PlateEffects{.spill = 0});
  check(clean.truth == plate.truth, "spill leaves the truth alone");
  std::size_t spilled = 0;
  for (std::size_t i = 0; i < plate.truth.size(); ++i) {
    const int alpha = alphaOf(plate.truth[i]);
    spilled += alpha > 0 && greenOf(plate.composite[i]) > greenOf(clean.composite[i]) + 8;
  }
  check(spilled > 1000, "the backdrop spills onto the foreground's edges", double(spilled));

  const double meanGreen = greenOf(plate.backdropMean), screenGreen = greenOf(recipe.backdrop);
  check(meanGreen > 0.5 * screenGreen && meanGreen < 0.9 * screenGreen, "the backdrop's mean is its lit colour",
        meanGreen);
}

}  // namespace

int main() {
  checkScorer();
  checkComposite();
  checkPlate();
  if (failures == 0) std::printf("keyvale_plate_check: all checks passed\n");
  return failures == 0 ? 0 : 1;
}

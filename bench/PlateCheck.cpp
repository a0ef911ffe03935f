// keyvale_plate_check: checks of the plate generator and the scorer, which
// the benchmark's figures stand on. plate-bench.sh runs it first; it needs
// no test framework and prints each failure. Exit status 1 on any.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "MatteScore.h"
#include "PlateScore.h"
#include "Plates.h"
#include "RealPlates.h"

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

// A 48 x 48 matte: a disc of radius 12 with a 4-pixel soft rim, backdrop round it.
std::vector<std::uint8_t> discMatte() {
  std::vector<std::uint8_t> alpha(48 * 48);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) {
      const double r = std::hypot(x + 0.5 - 20, y + 0.5 - 20);
      alpha[std::size_t(y * 48 + x)] =
          static_cast<std::uint8_t>(std::lround(255 * std::clamp((16 - r) / 4, 0.0, 1.0)));
    }
  }
  return alpha;
}

void checkMatteScore() {
  const std::vector<std::uint8_t> truth = discMatte();
  const MatteScore self = scoreMatte(truth, truth, 48, 48);
  check(self.all == 0 && self.edge == 0 && self.leak == 0 && self.gradient == 0 && self.connectivity == 0 &&
            !self.inverted,
        "a matte scored against itself is perfect");
  std::size_t partial = 0;
  for (const std::uint8_t a : truth) partial += a > 0 && a < 255;
  check(self.edgePixels > partial, "the edge band reaches past the partial pixels", double(self.edgePixels));

  std::vector<std::uint8_t> inverse(truth.size());
  for (std::size_t i = 0; i < truth.size(); ++i) inverse[i] = static_cast<std::uint8_t>(255 - truth[i]);
  const MatteScore flipped = scoreMatte(truth, inverse, 48, 48);
  check(flipped.inverted && near(flipped.leak, 1), "the truth's inverse is inverted and leaks everywhere");

  // A solid 3 x 3 speck in the backdrop, away from the subject: it leaks, has
  // edges of its own and is not connected to the subject.
  std::vector<std::uint8_t> speck = truth;
  for (int y = 40; y < 43; ++y) {
    for (int x = 40; x < 43; ++x) speck[std::size_t(y * 48 + x)] = 255;
  }
  const MatteScore specked = scoreMatte(truth, speck, 48, 48);
  check(!specked.inverted && specked.all > 0, "a speck is an error, not an inversion", specked.all);
  check(specked.gradient > 0, "a speck has a gradient error", specked.gradient);
  check(near(specked.connectivity, 9 / 1000.0), "each pixel of a speck is unconnected", specked.connectivity * 1000);
  check(specked.leak > 0, "a speck leaks", specked.leak);
}

// A photograph made as alpha F + (1 - alpha) B of flat colours: the estimate
// gives F back wherever alpha is above 0.
void checkForeground() {
  const std::vector<std::uint8_t> matte = discMatte();
  WholePicture photo{48, 48, {}}, alpha{48, 48, {}};
  for (const std::uint8_t a : matte) {
    auto mixed = [&](double f, double b) {
      return static_cast<std::uint8_t>(std::lround((a * f + (255 - a) * b) / 255));
    };
    photo.pixels.push_back(makePixel(mixed(200, 20), mixed(60, 120), mixed(40, 220), 255));
    alpha.pixels.push_back(makePixel(a, a, a, 255));
  }
  const WholePicture foreground = estimateForeground(photo, alpha);
  int worst = 0;
  for (std::size_t i = 0; i < matte.size(); ++i) {
    const Pixel32 f = foreground.pixels[i];
    check(alphaOf(f) == matte[i], "the foreground keeps the true alpha");
    if (matte[i] == 0) continue;
    worst = std::max({worst, std::abs(redOf(f) - 200), std::abs(greenOf(f) - 60), std::abs(blueOf(f) - 40)});
  }
  check(worst <= 3, "the foreground's colour is un-mixed from the backdrop", worst);
}

}  // namespace

int main() {
  checkMatteScore();
  checkForeground();
  checkScorer();
  checkComposite();
  checkPlate();
  if (failures == 0) std::printf("keyvale_plate_check: all checks passed\n");
  return failures == 0 ? 0 : 1;
}

// Keying against a clean plate: a backdrop with a hard shadow and a crease
// narrower than the model's cells keys clear against a picture of the empty
// set where the fitted model leaves them; a soft edge of a foreground far
// from the key's assumption, beside the subject or above it, keys to its
// alpha against it; lone noise stays clear, and so does a compressed
// plate's colour bleed against a clean plate compressed as it was; the
// bytes do not depend on the threads; frames of the empty set combine
// without a passer-by; smoothing takes the clean plate's own noise away and
// measures it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <optional>
#include <string>
#include <vector>

#include "keying/CleanPlate.h"
#include "engine/Keying.h"
#include "keying/PlateKeyer.h"

namespace Kvl::Test {
namespace {

constexpr std::uint32_t Width = 384, Height = 216;  // the model's cells are 6 pixels wide

// The set's backdrop, chroma green lit unevenly, with a hard-edged shadow
// band narrower than a cell (x 120-122, 40% darker) and a bright crease
// (row 40).
std::vector<Pixel32> emptySet(unsigned seed, double noise) {
  std::mt19937 random(seed);
  std::normal_distribution<double> grain(0, noise);
  std::vector<Pixel32> pixels(std::size_t{Width} * Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      double light = 1 - 0.3 * std::abs(x / double(Width) - 0.5);
      if (x >= 120 && x < 123) light *= 0.6;
      if (y == 40) light *= 1.3;
      const auto level = [&](double v) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(v * light + grain(random)), 0L, 255L));
      };
      pixels[std::size_t{y} * Width + x] = makePixel(level(40), level(180), level(60));
    }
  }
  return pixels;
}

bool inSubject(std::uint32_t x, std::uint32_t y) { return x >= 240 && x < 340 && y >= 80 && y < 180; }

// The same set with a skin-coloured subject in front.
std::vector<Pixel32> shot() {
  std::vector<Pixel32> pixels = emptySet(1, 3);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      if (inSubject(x, y)) pixels[std::size_t{y} * Width + x] = makePixel(200, 150, 120);
    }
  }
  return pixels;
}

// The plate keyer's setting fitted to `picture` with its tolerances
// measured, as --auto-adjust chooses it; none when the fit fails.
std::optional<Keying> plateKeyingFittedTo(const std::vector<Pixel32>& picture) {
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) survey.addRow(picture.data() + std::size_t{y} * Width, y);
  const auto fitted = fitPlate(survey, {std::nullopt, true});
  if (!fitted) return std::nullopt;
  return Keying{KeyerKind::Plate, {}, *fitted};
}

double backdropLeft(const std::vector<Pixel32>& keyed) {
  double backdrop = 0, left = 0;
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      if (x >= 238 && x < 342 && y >= 78 && y < 182) continue;
      backdrop += 1;
      left += alphaOf(keyed[std::size_t{y} * Width + x]) > 32;
    }
  }
  return left / backdrop;
}

TEST(CleanPlate, KeysClearWhatTheModelCannotFollow) {
  const std::vector<Pixel32> picture = shot();
  const std::optional<Keying> fitted = plateKeyingFittedTo(picture);
  ASSERT_TRUE(fitted);
  Keying keying = *fitted;

  std::vector<Pixel32> byModel = picture;
  keyFrame(byModel.data(), Width, Height, keying);
  EXPECT_GT(backdropLeft(byModel), 0.005) << "the shadow band and crease should defeat the model";

  keying.plate.cleanPlate = std::make_shared<const CleanPlate>(smoothedCleanPlate(emptySet(2, 3), Width, Height));
  std::vector<Pixel32> byPlate = picture;
  keyFrame(byPlate.data(), Width, Height, keying, 3);
  EXPECT_LT(backdropLeft(byPlate), 0.0005);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      if (inSubject(x, y)) ASSERT_EQ(alphaOf(byPlate[std::size_t{y} * Width + x]), 255) << x << "," << y;
    }
  }
  // A clean plate of another size is not used (the command line refuses it).
  keying.plate.cleanPlate = std::make_shared<const CleanPlate>(smoothedCleanPlate(emptySet(2, 3), Width, Height - 1));
  std::vector<Pixel32> mismatched = picture;
  keyFrame(mismatched.data(), Width, Height, keying);
  EXPECT_EQ(mismatched, byModel);
}

// A pale yellow subject (a blonde strand's colour) with a soft left edge,
// alpha rising over SoftEdge pixels, in front of the set: the key's colour
// difference, which takes a foreground to have none of the backdrop's
// excess, keys a mix of a foreground with green of its own too hard.
constexpr std::uint32_t SoftEdge = 12;
double softLeftEdge(std::uint32_t x, std::uint32_t y) {
  if (y < 80 || y >= 180 || x >= 340 || x + SoftEdge < 240) return 0;
  return x >= 240 ? 1.0 : (x + SoftEdge + 1 - 240) / double(SoftEdge + 1);
}
// The same subject with a soft top edge instead: no row of the edge holds
// a solid pixel, as along the fuzz on top of a fleece.
double softTopEdge(std::uint32_t x, std::uint32_t y) { return softLeftEdge(y + 160, x - 160); }

using TrueAlpha = double (*)(std::uint32_t x, std::uint32_t y);
std::vector<Pixel32> softEdgedShot(TrueAlpha trueAlpha) {
  std::vector<Pixel32> pixels = emptySet(1, 3);
  const std::vector<Pixel32> empty = emptySet(1, 0);
  std::mt19937 random(7);
  std::normal_distribution<double> grain(0, 3);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      const double a = trueAlpha(x, y);
      if (a == 0) continue;
      const Pixel32 b = empty[std::size_t{y} * Width + x];
      const auto level = [&](double f, int backdrop) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(a * f + (1 - a) * backdrop + grain(random)), 0L, 255L));
      };
      pixels[std::size_t{y} * Width + x] = makePixel(level(230, redOf(b)), level(220, greenOf(b)), level(150, blueOf(b)));
    }
  }
  return pixels;
}

// The alpha error over the pixels partly covered and one on either side.
double softEdgeError(const std::vector<Pixel32>& keyed, TrueAlpha trueAlpha) {
  double sum = 0, count = 0;
  for (std::uint32_t y = 1; y + 1 < Height; ++y) {
    for (std::uint32_t x = 1; x + 1 < Width; ++x) {
      const auto a = [&](std::uint32_t u, std::uint32_t v) { return trueAlpha(u, v) > 0 && trueAlpha(u, v) < 1; };
      if (!a(x, y) && !a(x - 1, y) && !a(x + 1, y) && !a(x, y - 1) && !a(x, y + 1)) continue;
      sum += std::abs(alphaOf(keyed[std::size_t{y} * Width + x]) - 255 * trueAlpha(x, y));
      count += 1;
    }
  }
  return sum / count;
}

TEST(CleanPlate, KeysASoftEdgeToItsAlphaWhateverTheForegroundsHue) {
  for (const TrueAlpha trueAlpha : {softLeftEdge, softTopEdge}) {
    const std::string edge = trueAlpha == softTopEdge ? "top edge" : "left edge";
    const std::vector<Pixel32> picture = softEdgedShot(trueAlpha);
    const std::optional<Keying> fitted = plateKeyingFittedTo(picture);
    ASSERT_TRUE(fitted);
    Keying keying = *fitted;
    std::vector<Pixel32> byModel = picture;
    keyFrame(byModel.data(), Width, Height, keying);

    keying.plate.cleanPlate = std::make_shared<const CleanPlate>(smoothedCleanPlate(emptySet(2, 3), Width, Height));
    std::vector<Pixel32> byPlate = picture;
    keyFrame(byPlate.data(), Width, Height, keying);
    EXPECT_LT(softEdgeError(byPlate, trueAlpha), 8.0) << edge;
    // Beside the subject, the modelled backdrop does nearly as well (the
    // same measure along the row); above it, with no solid pixel in the
    // row, only the clean plate's search across rows finds the subject.
    if (trueAlpha == softTopEdge) EXPECT_LT(softEdgeError(byPlate, trueAlpha), softEdgeError(byModel, trueAlpha) * 0.75);
    double backdrop = 0, left = 0;
    for (std::uint32_t y = 0; y < Height; ++y) {
      for (std::uint32_t x = 0; x < Width; ++x) {
        const double a = trueAlpha(x, y);
        if (a == 1) ASSERT_EQ(alphaOf(byPlate[std::size_t{y} * Width + x]), 255) << x << "," << y << ", " << edge;
        if (a > 0) continue;
        backdrop += 1;
        left += alphaOf(byPlate[std::size_t{y} * Width + x]) > 32;
      }
    }
    EXPECT_LT(left / backdrop, 0.0005) << edge;
    // Each row is keyed again from the whole picture's first key: the same
    // bytes on any number of threads.
    for (const int threads : {2, 5}) {
      std::vector<Pixel32> again = picture;
      keyFrame(again.data(), Width, Height, keying, threads);
      EXPECT_EQ(again, byPlate) << threads << " threads, " << edge;
    }
  }
}

// A lone pixel well above the clean plate's noise, along the backdrop's
// line (a glint the key takes for backdrop), is no strand: it stays clear.
TEST(CleanPlate, ALonePixelTheKeyLeftClearStaysClear) {
  const std::vector<Pixel32> empty = emptySet(1, 0);
  std::vector<Pixel32> picture = empty;
  const std::size_t glint = std::size_t{20} * Width + 60;
  const Pixel32 p = picture[glint];
  const auto brighter = [](std::uint8_t level) { return static_cast<std::uint8_t>(std::min(255, level * 9 / 8)); };
  picture[glint] = makePixel(brighter(redOf(p)), brighter(greenOf(p)), brighter(blueOf(p)));
  Keying keying{KeyerKind::Plate, {}, {}};
  keying.plate.cleanPlate = std::make_shared<const CleanPlate>(smoothedCleanPlate(empty, Width, Height));
  keyFrame(picture.data(), Width, Height, keying);
  for (std::size_t i = 0; i < picture.size(); ++i) ASSERT_EQ(alphaOf(picture[i]), 0) << i % Width << "," << i / Width;
}

// A compressed plate bleeds colour, not brightness, into the backdrop
// beside its subject: against a clean plate compressed as it was, a
// difference of that kind within the compression's error keys clear, where
// against an uncompressed one it is taken for a faint mix.
TEST(CleanPlate, ACompressedPlatesColourBleedKeysClear) {
  std::vector<Pixel32> picture = shot();
  const auto shifted = [](std::uint8_t level, int by) { return static_cast<std::uint8_t>(std::clamp(level + by, 0, 255)); };
  for (std::uint32_t y = 80; y < 180; ++y) {
    for (const std::uint32_t x : {237u, 238u, 239u}) {
      Pixel32& p = picture[std::size_t{y} * Width + x];
      p = makePixel(shifted(redOf(p), 12), shifted(greenOf(p), -8), shifted(blueOf(p), 8));  // brightness kept
    }
  }
  const std::optional<Keying> fitted = plateKeyingFittedTo(picture);
  ASSERT_TRUE(fitted);
  const auto bleedKeyed = [&](float colourQuantisation) {
    Keying keying = *fitted;
    CleanPlate plate = smoothedCleanPlate(emptySet(2, 3), Width, Height);
    plate.colourQuantisation = colourQuantisation;
    keying.plate.cleanPlate = std::make_shared<const CleanPlate>(std::move(plate));
    std::vector<Pixel32> keyed = picture;
    keyFrame(keyed.data(), Width, Height, keying);
    double above = 0;
    for (std::uint32_t y = 80; y < 180; ++y) {
      for (std::uint32_t x = 237; x < 240; ++x) above += alphaOf(keyed[std::size_t{y} * Width + x]) > 0;
      EXPECT_EQ(alphaOf(keyed[std::size_t{y} * Width + 240]), 255) << y;
    }
    return above / 300;
  };
  EXPECT_GT(bleedKeyed(0), 0.5);
  EXPECT_LT(bleedKeyed(8), 0.01);
}

// The median of the frames leaves out what crosses the set in a few of
// them; smoothing then takes most of the noise.
TEST(CleanPlate, FramesOfTheEmptySetCombineWithoutAPasserBy) {
  std::vector<std::vector<Pixel32>> frames;
  for (unsigned f = 0; f < 5; ++f) {
    frames.push_back(emptySet(10 + f, 3));
    if (f == 1 || f == 3) {
      for (std::uint32_t y = 60; y < 160; ++y) {
        for (std::uint32_t x = 80 * f; x < 80 * f + 60; ++x) frames.back()[std::size_t{y} * Width + x] = makePixel(220, 40, 30);
      }
    }
  }
  frames.push_back(std::vector<Pixel32>(7));  // a frame of another size is left out
  const CleanPlate plate = cleanPlateOfFrames(frames, Width, Height);
  ASSERT_EQ(plate.pixels.size(), std::size_t{Width} * Height);
  const std::vector<Pixel32> truth = emptySet(0, 0);
  double squares = 0;
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      // Away from the crease and the shadow band, which the box widens.
      if ((x >= 117 && x < 126) || (y >= 37 && y < 44)) continue;
      const int d = int{greenOf(plate.at(x, y))} - int{greenOf(truth[std::size_t{y} * Width + x])};
      ASSERT_LE(std::abs(d), 4) << x << "," << y;
      EXPECT_LE(redOf(plate.at(x, y)), 60) << x << "," << y;
      squares += d * d;
    }
  }
  EXPECT_LT(std::sqrt(squares / (Width * Height)), 1.0);  // from 3 levels of noise in each frame
}

// The smoothing, row by row with its interior sums written out, gives the
// bytes of the plain 5 x 5 box (the mean over the part inside the picture,
// rounded half up) at every size, down to pictures narrower than the box.
TEST(CleanPlate, SmoothsToThePlainBoxsBytesAtEverySize) {
  std::mt19937 random(11);
  for (const auto [width, height] : {std::pair{37u, 23u}, {11u, 9u}, {10u, 10u}, {4u, 3u}, {1u, 7u}, {64u, 1u}}) {
    std::vector<Pixel32> pixels(std::size_t{width} * height);
    for (Pixel32& p : pixels) p = random() & 0xFFFFFFu;
    const CleanPlate plate = smoothedCleanPlate(pixels, width, height);
    ASSERT_EQ(plate.unsmoothed, pixels);
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t x0 = x < 2 ? 0 : x - 2, x1 = std::min(width, x + 3);
        const std::uint32_t y0 = y < 2 ? 0 : y - 2, y1 = std::min(height, y + 3);
        for (int shift = 0; shift <= 16; shift += 8) {
          // Across first, rounded, then down, rounded: the box's two passes.
          std::uint32_t down = 0;
          for (std::uint32_t v = y0; v < y1; ++v) {
            std::uint32_t across = 0;
            for (std::uint32_t u = x0; u < x1; ++u) across += (pixels[std::size_t{v} * width + u] >> shift) & 0xFF;
            down += (across + (x1 - x0) / 2) / (x1 - x0);
          }
          const std::uint32_t expected = (down + (y1 - y0) / 2) / (y1 - y0);
          ASSERT_EQ((plate.at(x, y) >> shift) & 0xFF, expected) << width << "x" << height << " at " << x << "," << y;
        }
      }
    }
  }
}

// The noise the smoothing takes out is one exposure's, whatever the
// backdrop's light does: the crease and the shadow band's edges, which the
// box also changes, are too few to move the median.
TEST(CleanPlate, MeasuresTheNoiseOfOneExposure) {
  EXPECT_NEAR(smoothedCleanPlate(emptySet(4, 3), Width, Height).noise, 3.0, 0.5);
  EXPECT_NEAR(smoothedCleanPlate(emptySet(5, 8), Width, Height).noise, 8.0, 1.2);
  EXPECT_LT(smoothedCleanPlate(emptySet(6, 0), Width, Height).noise, 0.8);
  EXPECT_EQ(smoothedCleanPlate({}, 0, 0).noise, 0.0f);
}

// Made from frames with a subject in them: only the samples of the surest
// mark count, the median outvotes one stray sample, a pixel shown only half
// covered counts only where most frames show it, and a pixel no frame
// marks keeps the fallback.
TEST(CleanPlateOfAShot, BackdropSamplesOnlyWithTheFallbackWhereNoneShows) {
  const Pixel32 green = makePixel(40, 180, 60), skin = makePixel(200, 150, 120), fallback = makePixel(1, 2, 3);
  const Pixel32 hair = makePixel(90, 160, 70);
  // Five pixels, three frames: pixel 0 is surely backdrop in all (once with
  // a passer-by's colour), pixel 1 only in the last, and half covered by
  // hair in the second, which does not count; pixel 2 in none; pixel 3 only
  // half covered, but in every frame (a crease the model misses); pixel 4
  // half covered in one frame only (a swaying subject's hair).
  const std::vector<std::vector<Pixel32>> frames = {{green, skin, skin, green, skin},
                                                    {skin, hair, skin, green, skin},
                                                    {green, green, skin, green, hair}};
  const std::vector<std::vector<std::uint8_t>> backdrop = {{2, 0, 0, 1, 0}, {2, 1, 0, 1, 0}, {2, 2, 0, 1, 1}};
  const std::vector<Pixel32> plate = backdropMedianOfFrames(frames, backdrop, std::vector<Pixel32>(5, fallback), 5, 1);
  EXPECT_EQ(plate, (std::vector<Pixel32>{green, green, fallback, green, fallback}));
}

}  // namespace
}  // namespace Kvl::Test

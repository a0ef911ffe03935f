// The steady matte: a still soft edge under fresh noise each frame keeps
// its alpha steadier than the per-frame key, an edge that moves is
// followed (within the search) or keyed as the frame says (beyond it),
// solid and clear pixels never change, and a pan is not taken for noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/Keying.h"
#include "keying/SteadyMatte.h"

namespace Kvl::Test {
namespace {

constexpr std::uint32_t Width = 96, Height = 40;

// Chroma green with a skin-coloured subject on the right whose edge fades
// over 12 pixels from column `edge`; each frame has noise of its own.
std::vector<Pixel32> frameWithEdge(long edge, unsigned seed, double noise = 3) {
  std::mt19937 random(seed);
  std::normal_distribution<double> grain(0, noise);
  std::vector<Pixel32> pixels(std::size_t{Width} * Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      const double a = std::clamp((static_cast<double>(x) - static_cast<double>(edge)) / 12.0, 0.0, 1.0);
      const auto level = [&](double backdrop, double subject) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(a * subject + (1 - a) * backdrop + grain(random)), 0L, 255L));
      };
      pixels[std::size_t{y} * Width + x] = makePixel(level(40, 200), level(180, 150), level(60, 120));
    }
  }
  return pixels;
}

Keying settingFor(const std::vector<Pixel32>& frame) {
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) survey.addRow(frame.data() + std::size_t{y} * Width, y);
  Keying keying;
  keying.keyer = KeyerKind::Plate;
  keying.plate = *fitPlate(survey, {});
  return keying;
}

std::vector<Pixel32> keyed(const std::vector<Pixel32>& frame, const Keying& keying) {
  std::vector<Pixel32> out = frame;
  keyFrame(out.data(), Width, Height, keying);
  return out;
}

// Keys `frames` in order, each steadied by up to two before it; the
// per-frame keys into `perFrame`.
std::vector<std::vector<Pixel32>> steadied(const std::vector<std::vector<Pixel32>>& frames, const Keying& keying,
                                           std::vector<std::vector<Pixel32>>& perFrame) {
  std::vector<KeyedFrame> kept;  // nearest first
  std::vector<std::vector<Pixel32>> results;
  for (const auto& frame : frames) {
    perFrame.push_back(keyed(frame, keying));
    std::vector<Pixel32> out = perFrame.back();
    std::vector<const KeyedFrame*> earlier;
    for (const KeyedFrame& k : kept) earlier.push_back(&k);
    steadyMatte(frame.data(), out.data(), Width, Height, earlier, keying.plate);
    kept.insert(kept.begin(), keyedFrameOf(frame.data(), perFrame.back().data(), Width, Height));
    if (kept.size() > SteadyWindow) kept.pop_back();
    results.push_back(std::move(out));
  }
  return results;
}

// The mean squared change of alpha from frame to frame over the edge's columns.
double flicker(const std::vector<std::vector<Pixel32>>& frames, std::uint32_t from, std::uint32_t to) {
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t f = 1; f < frames.size(); ++f) {
    for (std::uint32_t y = 0; y < Height; ++y) {
      for (std::uint32_t x = from; x < to; ++x) {
        const double d = alphaOf(frames[f][y * Width + x]) - alphaOf(frames[f - 1][y * Width + x]);
        sum += d * d;
        ++count;
      }
    }
  }
  return sum / static_cast<double>(count);
}

TEST(SteadyMatte, AStillEdgeFlickersLessAndSureAlphasStayExact) {
  std::vector<std::vector<Pixel32>> frames;
  for (unsigned f = 0; f < 8; ++f) frames.push_back(frameWithEdge(40, 100 + f));
  const Keying keying = settingFor(frames.front());
  std::vector<std::vector<Pixel32>> perFrame;
  const auto steady = steadied(frames, keying, perFrame);
  EXPECT_LT(flicker(steady, 40, 52), 0.5 * flicker(perFrame, 40, 52));
  double meanShift = 0;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    for (std::size_t i = 0; i < frames[f].size(); ++i) {
      const std::uint8_t own = alphaOf(perFrame[f][i]);
      if (own == 0 || own == 255) {
        ASSERT_EQ(steady[f][i], perFrame[f][i]) << "frame " << f << " pixel " << i;
      }
      meanShift += alphaOf(steady[f][i]) - own;
    }
  }
  // Averaging, not a bias: the matte as a whole stays where the key put it.
  EXPECT_LT(std::fabs(meanShift) / (frames.size() * frames.front().size()), 0.5);
  EXPECT_EQ(steady.front(), perFrame.front()) << "the first frame has nothing before it";
}

TEST(SteadyMatte, AMovingEdgeIsFollowedAndAJumpKeyedAsTheFrameSays) {
  // Two pixels a frame, within the search: the steady alpha stays with the
  // frame's own edge, not the last frame's.
  std::vector<std::vector<Pixel32>> moving;
  for (unsigned f = 0; f < 6; ++f) moving.push_back(frameWithEdge(30 + 2 * f, 200 + f));
  const Keying keying = settingFor(moving.front());
  std::vector<std::vector<Pixel32>> perFrame;
  const auto steady = steadied(moving, keying, perFrame);
  for (std::size_t f = 1; f < moving.size(); ++f) {
    double sum = 0;
    for (std::size_t i = 0; i < moving[f].size(); ++i) sum += alphaOf(steady[f][i]) - alphaOf(perFrame[f][i]);
    EXPECT_LT(std::fabs(sum) / moving[f].size(), 1.0) << "frame " << f << " lags";
  }
  // Twenty pixels at once, far beyond the search: the edge's pixels are
  // keyed as the frame alone keys them.
  const std::vector<std::vector<Pixel32>> jump = {frameWithEdge(30, 300), frameWithEdge(50, 301)};
  std::vector<std::vector<Pixel32>> jumpPerFrame;
  const auto jumped = steadied(jump, keying, jumpPerFrame);
  for (std::uint32_t y = 2; y + 2 < Height; ++y) {
    for (std::uint32_t x = 33; x < 62; ++x) {
      EXPECT_EQ(alphaOf(jumped[1][y * Width + x]), alphaOf(jumpPerFrame[1][y * Width + x])) << x << "," << y;
    }
  }
}

TEST(SteadyMatte, TheNoiseIsMeasuredAndAPanIsNotTakenForIt) {
  const std::vector<Pixel32> a = frameWithEdge(40, 1), b = frameWithEdge(40, 2), moved = frameWithEdge(10, 3);
  // Identical frames (still blocks of compressed footage): a third of the
  // tolerance's allowance.
  EXPECT_EQ(noiseBetween(a.data(), a.data(), Width, Height, 12), 27u * 12 / 6);
  // 27 differences of about 1.13 x 3 levels each.
  const std::uint32_t noise = noiseBetween(a.data(), b.data(), Width, Height, 12);
  EXPECT_GT(noise, 70u);
  EXPECT_LT(noise, 115u);
  // A picture that changed all over: bounded by the backdrop tolerance.
  std::vector<Pixel32> other(a.size(), makePixel(200, 20, 200));
  EXPECT_EQ(noiseBetween(a.data(), other.data(), Width, Height, 12), 27u * 12 / 2);
  EXPECT_LE(noiseBetween(a.data(), moved.data(), Width, Height, 4), 27u * 4 / 2);
}

TEST(SteadyMatte, ChangedPixelsAreUnmixedAtTheirNewAlpha) {
  std::vector<std::vector<Pixel32>> frames;
  for (unsigned f = 0; f < 4; ++f) frames.push_back(frameWithEdge(40, 400 + f, 6));
  const Keying keying = settingFor(frames.front());
  std::vector<std::vector<Pixel32>> perFrame;
  const auto steady = steadied(frames, keying, perFrame);
  PlateKeyer keyer(keying.plate, Width, Height);
  std::size_t changed = 0;
  for (std::uint32_t y = 0; y < Height; ++y) {
    const float* b = keyer.backdropOf(y);
    for (std::uint32_t x = 0; x < Width; ++x) {
      const Pixel32 out = steady.back()[y * Width + x], own = perFrame.back()[y * Width + x];
      if (alphaOf(out) == alphaOf(own) || alphaOf(out) < 64) continue;
      ++changed;
      // Laid back over the backdrop it gives the plate's brightness again
      // (taking spill out keeps brightness; faint pixels' colours may clip).
      const double a = alphaOf(out) / 255.0;
      const Pixel32 p = frames.back()[y * Width + x];
      const double sum = a * (redOf(out) + greenOf(out) + blueOf(out)) + (1 - a) * (b[x] + b[Width + x] + b[2 * Width + x]);
      EXPECT_NEAR(sum, redOf(p) + greenOf(p) + blueOf(p), 2.5) << x << "," << y;
    }
  }
  EXPECT_GT(changed, 30u);
}

}  // namespace
}  // namespace Kvl::Test

// The plate keyer in float against a reference computed here in double
// from the method as docs/plate-keyer.md states it: within half a unit of
// a 16-bit output's last place. A 16-bit ramp keeps more than 256 levels,
// values above 1.0 are keyed and kept, and 8-bit samples key as the 8-bit
// keyer keys them.

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "keying/DeepPlateKeyer.h"

namespace Kvl::Test {
namespace {

struct Colour {
  double r, g, b;
};

// A flat backdrop, so the reference needs no model: (40, 200, 60) levels.
constexpr Colour Backdrop{40, 200, 60};

PlateSettings flatGreen() {
  PlateSettings settings;
  settings.channel = GreenChannel;
  settings.backdrop.columns = 4;
  settings.backdrop.rows = 3;
  settings.backdrop.colours.assign(12, makePixel(40, 200, 60));
  return settings;
}

double excessOf(const Colour& c) { return c.g - std::max(c.r, c.b); }

// The per-pixel key as the documentation gives it, in levels, in double.
PixelF referenceKey(const std::vector<Colour>& row, std::size_t x, const PlateSettings& s) {
  const Colour p = row[x], bd = Backdrop;
  const double tb = s.backdropTolerance, tf = s.foregroundTolerance, th = s.hueTolerance, range = s.hueRange;
  const double eb = excessOf(bd), ep = excessOf(p);
  const double difference = std::clamp((eb - tb - ep) / std::max(eb - tb - tf, 8.0), 0.0, 1.0);
  const double bb = bd.r * bd.r + bd.g * bd.g + bd.b * bd.b, pb = p.r * bd.r + p.g * bd.g + p.b * bd.b;
  const double offLine = std::sqrt(std::max(0.0, p.r * p.r + p.g * p.g + p.b * p.b - pb * pb / bb));
  const double hue = std::clamp(ep / eb, 0.0, 1.0) * std::clamp((offLine - th) / range, 0.0, 1.0);
  // The least alpha of any mix with the backdrop, lit like the pixel within 0.7 to 1.15 of it.
  const double scale = std::clamp(pb / bb, 0.7, 1.15);
  double mix = 0;
  for (const auto [own, back] : {std::pair{p.r, bd.r}, std::pair{p.g, bd.g}, std::pair{p.b, bd.b}}) {
    const double lit = scale * back;
    mix = std::max({mix, (own - lit - tb) / std::max(255 - lit - tb, 1.0), (lit - own - tb) / std::max(lit - tb, 1.0)});
  }
  const double single = std::max({difference, hue, std::min(mix, 1.0)});
  // The neighbourhood: the excess averaged over two pixels either side.
  double sum = 0;
  int count = 0;
  for (std::size_t i = x >= 2 ? x - 2 : 0; i <= std::min(row.size() - 1, x + 2); ++i, ++count) sum += excessOf(row[i]);
  const double nearby = sum / count;
  double alpha = single;
  if ((nearby <= tf / 2 && single > 0) || nearby <= -tf / 2) {
    alpha = 1;
  } else if (nearby >= eb - tb / 2 && hue <= 0 && single < 1) {
    alpha = 0;
  }
  // Un-mixed from the backdrop; a clear pixel keeps its own colour, spill aside.
  Colour f = p;
  if (alpha > 0) f = {(p.r - (1 - alpha) * bd.r) / alpha, (p.g - (1 - alpha) * bd.g) / alpha, (p.b - (1 - alpha) * bd.b) / alpha};
  if (difference >= hue) {
    const double spill = std::min(std::max(excessOf(f), 0.0) / eb, 1.0), grey = (bd.r + bd.g + bd.b) / 3;
    f = {f.r - spill * (bd.r - grey), f.g - spill * (bd.g - grey), f.b - spill * (bd.b - grey)};
  }
  return {static_cast<float>(f.r / 255), static_cast<float>(f.g / 255), static_cast<float>(f.b / 255),
          static_cast<float>(alpha)};
}

// Mixes of foregrounds over the backdrop at alphas in 16-bit steps, bright
// highlights above 1.0, and a green object off the backdrop's line.
std::vector<Colour> testRow(std::size_t width) {
  const Colour foregrounds[] = {{230, 140, 90}, {30, 20, 25}, {200, 200, 40}, {20, 250, 230}, {900, 700, 500}};
  std::vector<Colour> row;
  for (std::size_t x = 0; x < width; ++x) {
    const Colour& f = foregrounds[x / 7 % 5];
    const double a = static_cast<double>(x * 4099 % 65536) / 65535;
    row.push_back({a * f.r + (1 - a) * Backdrop.r, a * f.g + (1 - a) * Backdrop.g, a * f.b + (1 - a) * Backdrop.b});
  }
  return row;
}

TEST(DeepPlateKeyer, MatchesTheDoubleReferenceWithinHalfASixteenBitStep) {
  const PlateSettings settings = flatGreen();
  constexpr std::size_t Width = 700;
  const std::vector<Colour> row = testRow(Width);
  std::vector<PixelF> in(Width), out(Width);
  for (std::size_t x = 0; x < Width; ++x) {
    in[x] = {static_cast<float>(row[x].r / 255), static_cast<float>(row[x].g / 255), static_cast<float>(row[x].b / 255), 0};
  }
  DeepPlateKeyer keyer(settings, Width, 3);
  keyer.keyPixels(in.data(), out.data(), 1);
  constexpr double HalfStep = 0.5 / 65535;
  for (std::size_t x = 0; x < Width; ++x) {
    const PixelF want = referenceKey(row, x, settings);
    ASSERT_NEAR(out[x].alpha, want.alpha, HalfStep) << "x " << x;
    // The last place kept: a 16-bit step up to 1.0, a half float's above
    // (2^-11 of the value). Un-mixing divides by alpha, and the float
    // arithmetic's error with it.
    const auto halfPlace = [&](float v) {
      return std::max(HalfStep, std::abs(v) * std::ldexp(1.0, -12)) / std::max<double>(want.alpha, 1.0 / 64);
    };
    EXPECT_NEAR(out[x].red, want.red, halfPlace(want.red)) << "x " << x;
    EXPECT_NEAR(out[x].green, want.green, halfPlace(want.green)) << "x " << x;
    EXPECT_NEAR(out[x].blue, want.blue, halfPlace(want.blue)) << "x " << x;
  }
}

TEST(DeepPlateKeyer, ASixteenBitEdgeKeepsMoreThan256LevelsAndHighlightsAboveOne) {
  const PlateSettings settings = flatGreen();
  constexpr std::size_t Width = 4096;
  std::vector<PixelF> row(Width);
  // A soft edge from backdrop to skin in 4096 steps of 16-bit samples.
  for (std::size_t x = 0; x < Width; ++x) {
    const float a = static_cast<float>(x) / (Width - 1);
    const auto mix = [a](float f, float b) { return std::round((a * f + (1 - a) * b) / 255 * 65535) / 65535; };
    row[x] = {mix(230, 40), mix(140, 200), mix(90, 60), 0};
  }
  DeepPlateKeyer keyer(settings, Width, 1);
  keyer.keyRow(row.data(), row.data(), 0);
  std::set<int> levels;
  for (const PixelF& p : row) levels.insert(static_cast<int>(std::lround(p.alpha * 65535)));
  EXPECT_GT(levels.size(), 1000u);

  std::vector<PixelF> bright(8, PixelF{5.0f, 3.0f, 2.5f, 0});  // a lamp in shot, far above 1.0
  DeepPlateKeyer(settings, 8, 1).keyRow(bright.data(), bright.data(), 0);
  for (const PixelF& p : bright) {
    EXPECT_EQ(p.alpha, 1.0f);
    EXPECT_NEAR(p.red, 5.0f, 1e-5);
    EXPECT_NEAR(p.green, 3.0f, 1e-5);
  }
}

TEST(DeepPlateKeyer, EightBitSamplesKeyAsTheEightBitKeyerKeysThem) {
  const PlateSettings settings = flatGreen();
  constexpr std::uint32_t Width = 256;
  std::vector<Pixel32> eight(Width);
  std::vector<PixelF> deep(Width);
  for (std::uint32_t x = 0; x < Width; ++x) {
    const auto r = static_cast<std::uint8_t>(x), g = static_cast<std::uint8_t>(255 - x / 2), b = static_cast<std::uint8_t>(x * 7);
    eight[x] = makePixel(r, g, b);
    deep[x] = {r / 255.0f, g / 255.0f, b / 255.0f, 0};
  }
  PlateKeyer(settings, Width, 2).keyRow(eight.data(), eight.data(), 1);
  DeepPlateKeyer(settings, Width, 2).keyRow(deep.data(), deep.data(), 1);
  const auto level = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
  for (std::uint32_t x = 0; x < Width; ++x) {
    EXPECT_NEAR(level(deep[x].alpha), alphaOf(eight[x]), 1) << x;
    EXPECT_NEAR(level(deep[x].red), redOf(eight[x]), 1) << x;
    EXPECT_NEAR(level(deep[x].green), greenOf(eight[x]), 1) << x;
    EXPECT_NEAR(level(deep[x].blue), blueOf(eight[x]), 1) << x;
  }
}

// A blurred edge of a pale subject lit far above 1.0 (a lamp's shade in a
// compositor's float plate): its outer mixes are keyed again by the
// subject beside them, and un-mixed they keep its brightness, not 1.0.
TEST(DeepPlateKeyer, ABrightBlurredEdgeKeepsItsHighlightsUnMixed) {
  const PlateSettings settings = flatGreen();
  constexpr std::size_t Width = 120, EdgeFrom = 40, EdgeTo = 56;
  const Colour lamp{940, 910, 800};
  std::vector<PixelF> row(Width);
  for (std::size_t x = 0; x < Width; ++x) {
    const double a = std::clamp((static_cast<double>(x) + 0.5 - EdgeFrom) / (EdgeTo - EdgeFrom), 0.0, 1.0);
    const auto mix = [a](double f, double b) { return static_cast<float>((a * f + (1 - a) * b) / 255); };
    row[x] = {mix(lamp.r, Backdrop.r), mix(lamp.g, Backdrop.g), mix(lamp.b, Backdrop.b), 0};
  }
  DeepPlateKeyer(settings, Width, 1).keyRow(row.data(), row.data(), 0);
  int mixes = 0;
  for (std::size_t x = EdgeFrom; x < EdgeTo; ++x) {
    if (row[x].alpha <= 0.5f || row[x].alpha >= 1) continue;
    ++mixes;
    EXPECT_GT(row[x].red, 3.0f) << x << " at alpha " << row[x].alpha;  // the lamp's own red is 3.69
  }
  EXPECT_GE(mixes, 4);
}

#if defined(__x86_64__) && defined(__linux__)
// The per-pixel key's bits themselves (before the edges' second look), for
// rows narrower than the neighbourhood, as wide as it and wider: a digest
// taken from the keyer before its loops were reworked for speed (and
// taken again when the mix test joined its arithmetic), which every rework
// must give again. (Taken on x86-64 Linux; both function versions there
// give it.)
TEST(DeepPlateKeyer, KeysTheSameBitsAsBeforeItsLoopsWereReworked) {
  const PlateSettings settings = flatGreen();
  std::uint64_t digest = 14695981039346656037u;  // FNV-1a
  for (const std::size_t width : {1, 2, 3, 4, 5, 6, 7, 9, 33, 1920}) {
    const std::vector<Colour> row = testRow(width);
    std::vector<PixelF> in(width), out(width);
    for (std::size_t x = 0; x < width; ++x) {
      in[x] = {static_cast<float>(row[x].r / 255), static_cast<float>(row[x].g / 255), static_cast<float>(row[x].b / 255), 0};
    }
    DeepPlateKeyer(settings, static_cast<std::uint32_t>(width), 3).keyPixels(in.data(), out.data(), 1);
    for (const PixelF& p : out) {
      for (const float v : {p.red, p.green, p.blue, p.alpha}) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        digest = (digest ^ bits) * 1099511628211u;
      }
    }
  }
  EXPECT_EQ(digest, 954417033492940907u);
}
#endif

}  // namespace
}  // namespace Kvl::Test


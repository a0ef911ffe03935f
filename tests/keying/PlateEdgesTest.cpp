// The plate keyer's edge pass at the rim of the solid matte: over a dim
// lime wall, whose green hardly exceeds its red, a pale subject's soft edge
// has next to no less excess than the wall, and the colour difference keys
// it solid; un-mixed against the subject beside it, it gets its alpha back.
// The backdrop's light spilled onto a subject's rim looks like such a mix
// too, and stays solid.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/Keying.h"
#include "keying/PlateKeyer.h"

namespace Kvl::Test {
namespace {

constexpr std::uint32_t Width = 160, Height = 120;
constexpr std::uint32_t Left = 50, Right = 110, Top = 30, Bottom = 90;  // the subject
constexpr double Ramp = 16;  // pixels over which its left edge goes from clear to solid

struct Rgb {
  double red, green, blue;
};

Rgb mixOf(Rgb f, Rgb b, double a) {
  return {a * f.red + (1 - a) * b.red, a * f.green + (1 - a) * b.green, a * f.blue + (1 - a) * b.blue};
}

// A lime wall a third dimmer than chroma lime (14 levels of green over red),
// with sensor noise, and a pale square over it whose left edge is a ramp of
// alpha `alphaAt(x)`; `rim(x)`, the share of the wall's colour spilled into
// the square's own colour at column x.
template <typename AlphaAt, typename Rim>
std::vector<Pixel32> plate(Rgb subject, AlphaAt alphaAt, Rim rim) {
  const Rgb wall{105, 119, 42};
  std::mt19937 random(11);
  std::normal_distribution<double> grain(0, 2);
  std::vector<Pixel32> picture(std::size_t{Width} * Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    for (std::uint32_t x = 0; x < Width; ++x) {
      const bool inside = x >= Left && x < Right && y >= Top && y < Bottom;
      const double a = inside ? alphaAt(x) : 0.0;
      Rgb c = mixOf(mixOf(wall, subject, rim(x)), wall, a);
      c = {c.red + grain(random), c.green + grain(random), c.blue + grain(random)};
      const auto level = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
      picture[std::size_t{y} * Width + x] = makePixel(level(c.red), level(c.green), level(c.blue));
    }
  }
  return picture;
}

std::vector<Pixel32> keyedWithAutoSettings(std::vector<Pixel32> picture) {
  BackdropSurvey survey(Width, Height);
  for (std::uint32_t y = 0; y < Height; ++y) {
    if (survey.wantsRow(y)) survey.addRow(picture.data() + std::size_t{y} * Width, y);
  }
  const std::optional<PlateSettings> settings = fitPlate(survey, {std::nullopt, true});
  EXPECT_TRUE(settings.has_value()) << "no backdrop found";
  keyFrame(picture.data(), Width, Height, {KeyerKind::Plate, {}, settings.value_or(PlateSettings{})}, 1);
  return picture;
}

double rampAlpha(std::uint32_t x) { return std::clamp((x + 0.5 - Left) / Ramp, 0.0, 1.0); }

TEST(PlateEdges, GivesAPaleSoftEdgeOverADimLimeWallItsAlpha) {
  const Rgb pale{230, 212, 185};
  const std::vector<Pixel32> out = keyedWithAutoSettings(plate(pale, rampAlpha, [](std::uint32_t) { return 0.0; }));
  double error = 0;
  int count = 0;
  for (std::uint32_t y = Top + 2; y < Bottom - 2; ++y) {
    // The ramp's part from a third to three fifths covered, which the
    // colour difference alone keys nearly solid (about 250 on average).
    for (std::uint32_t x = Left + 5; x < Left + 10; ++x) {
      error += std::abs(alphaOf(out[std::size_t{y} * Width + x]) - 255 * rampAlpha(x));
      ++count;
    }
    for (std::uint32_t x = Left + 24; x < Right - 2; ++x) {
      ASSERT_EQ(alphaOf(out[std::size_t{y} * Width + x]), 255) << "the subject itself, at " << x << ", " << y;
    }
  }
  EXPECT_LT(error / count, 50) << "mean alpha error over the ramp's middle";
}

// The ramp's faint start, a fifth to two fifths covered: the key clears it
// (its excess is within the noise of the wall's), but it lies far off the
// wall's colour, and un-mixed against the subject it gets its alpha back;
// the wall beside it, within the noise of its model, stays clear.
TEST(PlateEdges, GivesAFaintPaleEdgeTheKeyClearedItsAlphaAndLeavesTheWallClear) {
  const Rgb pale{230, 212, 185};
  const std::vector<Pixel32> out = keyedWithAutoSettings(plate(pale, rampAlpha, [](std::uint32_t) { return 0.0; }));
  double error = 0;
  int count = 0;
  for (std::uint32_t y = Top + 2; y < Bottom - 2; ++y) {
    for (std::uint32_t x = Left + 3; x < Left + 6; ++x) {
      error += std::abs(alphaOf(out[std::size_t{y} * Width + x]) - 255 * rampAlpha(x));
      ++count;
    }
    for (std::uint32_t x = Left - 12; x < Left; ++x) {
      ASSERT_LE(alphaOf(out[std::size_t{y} * Width + x]), 32) << "the wall, at " << x << ", " << y;
    }
  }
  EXPECT_LT(error / count, 20) << "mean alpha error over the ramp's faint start";
}

// The backdrop's light spilled onto a subject's rim looks exactly like a
// mix. Over the dim lime wall, whose excess is below the two tolerances
// together, the colour difference keys the mixes of a soft subject (fur,
// blonde hair) solid far more often than spill occurs, and a rim pixel may
// be lowered to just below 0.8 (over other backdrops 0.65): spill of a fifth
// of the wall's colour stays solid. The key itself leaves the first two
// columns partly transparent in some rows (their excess is within the noise
// of the wall's); the columns after them are the solid rim the edge pass
// looks at again.
TEST(PlateEdges, KeepsARimWithTheBackdropsLightSpilledOnItSolid) {
  const Rgb pale{225, 222, 205};
  // A hard edge, the wall's colour spilled into the subject's first five
  // columns, a fifth of it at the edge itself and fading inwards.
  const auto spill = [](std::uint32_t x) { return x < Left ? 0.0 : std::max(0.0, 0.2 * (1 - (x - Left) / 5.0)); };
  const std::vector<Pixel32> out =
      keyedWithAutoSettings(plate(pale, [](std::uint32_t) { return 1.0; }, spill));
  for (std::uint32_t y = Top + 2; y < Bottom - 2; ++y) {
    for (std::uint32_t x = Left + 2; x < Right - 2; ++x) {
      ASSERT_EQ(alphaOf(out[std::size_t{y} * Width + x]), 255) << "at " << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace Kvl::Test

#include <gtest/gtest.h>

#include "keying/Key.h"

namespace Kvl {
namespace {

struct KeyCase {
  KeyChannel channel;
  std::uint8_t r, g, b;
  std::uint8_t outR, outG, outB, outA;
};

TEST(KeyPixel, KeysAndSuppressesSpillOnEveryChannel) {
  const KeyCase cases[] = {
      {GreenChannel, 0, 255, 0, 0, 0, 0, 0},              // full backdrop
      {GreenChannel, 100, 100, 100, 100, 100, 100, 255},  // grey is not keyed
      {GreenChannel, 50, 120, 80, 50, 65, 80, 200},
      {GreenChannel, 51, 120, 80, 51, 65, 80, 201},   // the half truncates the excess
      {GreenChannel, 60, 90, 100, 60, 80, 100, 255},  // not keyed, spill still capped
      {GreenChannel, 1, 1, 0, 1, 0, 0, 255},          // keyed with excess 0
      {BlueChannel, 20, 40, 250, 20, 40, 30, 35},
      {RedChannel, 250, 10, 30, 20, 10, 30, 25},
  };
  for (const KeyCase& c : cases) {
    Pixel32 pixel = makePixel(c.r, c.g, c.b);
    keyPixel(pixel, c.channel);
    EXPECT_EQ(pixel, makePixel(c.outR, c.outG, c.outB, c.outA))
        << "channel " << c.channel << " in " << int{c.r} << "," << int{c.g} << "," << int{c.b};
  }
}

TEST(KeyPixel, NeverTouchesTheOtherTwoComponents) {
  // Use a colour whose components differ, so a swap would show.
  const Pixel32 colour = makePixel(0x30, 0xF0, 0x10);
  Pixel32 green = colour, red = colour, blue = colour;
  keyPixel(green, GreenChannel);
  keyPixel(red, RedChannel);
  keyPixel(blue, BlueChannel);
  EXPECT_EQ(green & 0x00FF00FFu, colour & 0x00FF00FFu);
  EXPECT_EQ(red & 0x0000FFFFu, colour & 0x0000FFFFu);
  EXPECT_EQ(blue & 0x00FFFF00u, colour & 0x00FFFF00u);
}

TEST(SuppressSpill, CapsOnlyTheKeyComponentAndNeverRaisesIt) {
  Pixel32 spill = makePixel(51, 200, 80, 7);
  suppressSpill(spill, GreenChannel);
  EXPECT_EQ(spill, makePixel(51, 65, 80, 7));  // (51 + 80) >> 1, alpha kept

  Pixel32 below = makePixel(200, 10, 80, 7);
  suppressSpill(below, GreenChannel);
  EXPECT_EQ(below, makePixel(200, 10, 80, 7));
}

struct LevelsCase {
  std::uint8_t alpha, contrast, offset, levelled;
};

TEST(Levels, RemapsAlphaWithTheSinglePrecisionGain) {
  const LevelsCase cases[] = {
      {200, 10, 20, 205}, {255, 100, 0, 154},  // the narrowed gain lands one step low
      {255, 100, 50, 255}, {128, 64, 32, 38},   {201, 200, 100, 55},
      {200, 200, 100, 0},  {202, 200, 100, 255}, {77, 0, 0, 77},
  };
  for (const LevelsCase& c : cases) {
    Pixel32 pixel = makePixel(1, 2, 3, c.alpha);
    applyLevels(pixel, c.contrast, c.offset);
    EXPECT_EQ(pixel, makePixel(1, 2, 3, c.levelled))
        << "A " << int{c.alpha} << " C " << int{c.contrast} << " O " << int{c.offset};
  }
}

TEST(Levels, GainIsTheNarrowedQuotientAndOneAtNeutral) {
  EXPECT_EQ(levelsGain(0, 0), 1.0f);
  EXPECT_LT(static_cast<double>(levelsGain(100, 0)), 255.0 / 155.0);
  EXPECT_EQ(levelsGain(200, 100), 255.0f);  // divisor raised to 1
  EXPECT_EQ(levelsGain(255, 255), 255.0f);
}

}  // namespace
}  // namespace Kvl

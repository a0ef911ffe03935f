#include <gtest/gtest.h>

#include "engine/Key.h"

namespace Kvl {
namespace {

struct KeyCase {
  KeyChannel channel;
  std::uint8_t r, g, b;
  std::uint8_t outR, outG, outB, outA;
};

TEST(KeyPixel, KeysAndSuppressesSpillAsTheTableSays) {
  const KeyCase cases[] = {
      {GreenChannel, 0, 255, 0, 0, 0, 0, 0},          // full backdrop
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

}  // namespace
}  // namespace Kvl

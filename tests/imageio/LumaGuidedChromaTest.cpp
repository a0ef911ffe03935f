// Colour rebuilt from half-resolution samples along the full-resolution luma.

#include "imageio/LumaGuidedChroma.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace Kvl::Test {
namespace {

struct Rgb {
  int red, green, blue;
};

struct Ycc {
  double luma, cb, cr;
};

Ycc yccOf(Rgb c) {
  return {0.299 * c.red + 0.587 * c.green + 0.114 * c.blue,
          128 - 0.168736 * c.red - 0.331264 * c.green + 0.5 * c.blue,
          128 + 0.5 * c.red - 0.418688 * c.green - 0.081312 * c.blue};
}

std::uint32_t byteOf(double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); }

// What a decoder that only replicates colour samples hands over for
// `picture`: exact luma, and each block's mean Cb and Cr over all its pixels.
std::vector<Pixel32> storedAsJpegDoes(const std::vector<Rgb>& picture, std::uint32_t width, std::uint32_t height,
                                      std::uint32_t blockWidth, std::uint32_t blockHeight) {
  std::vector<Pixel32> stored(picture.size());
  for (std::uint32_t by = 0; by < height; by += blockHeight) {
    for (std::uint32_t bx = 0; bx < width; bx += blockWidth) {
      double cb = 0, cr = 0, count = 0;
      for (std::uint32_t y = by; y < std::min(by + blockHeight, height); ++y) {
        for (std::uint32_t x = bx; x < std::min(bx + blockWidth, width); ++x) {
          const Ycc c = yccOf(picture[y * width + x]);
          cb += c.cb, cr += c.cr, ++count;
        }
      }
      for (std::uint32_t y = by; y < std::min(by + blockHeight, height); ++y) {
        for (std::uint32_t x = bx; x < std::min(bx + blockWidth, width); ++x) {
          stored[y * width + x] =
              byteOf(yccOf(picture[y * width + x]).luma) | byteOf(cb / count) << 8 | byteOf(cr / count) << 16;
        }
      }
    }
  }
  return stored;
}

int largestError(const std::vector<Pixel32>& rebuilt, const std::vector<Rgb>& picture) {
  int largest = 0;
  for (std::size_t i = 0; i < picture.size(); ++i) {
    const Pixel32 p = rebuilt[i];
    largest = std::max({largest, std::abs(static_cast<int>(p & 0xFF) - picture[i].blue),
                        std::abs(static_cast<int>(p >> 8 & 0xFF) - picture[i].green),
                        std::abs(static_cast<int>(p >> 16 & 0xFF) - picture[i].red)});
  }
  return largest;
}

// A yellow object on a green backdrop: the case where the usual blend
// leaves a yellowish rim on the backdrop (about 25 levels of red at 4:2:0).
// Edges at even and odd places, across and down, in 4:2:0, 4:2:2 and 4:4:0,
// on pictures of odd size, all come back within rounding.
TEST(LumaGuidedChroma, RebuildsBothSidesOfAnEdgeBetweenTwoColours) {
  const Rgb backdrop{40, 180, 60}, object{230, 210, 30};
  const std::uint32_t width = 13, height = 11;
  const struct {
    std::uint32_t blockWidth, blockHeight;
  } samplings[] = {{2, 2}, {2, 1}, {1, 2}};
  for (const auto& sampling : samplings) {
    for (std::uint32_t edge = 4; edge <= 7; ++edge) {
      for (const bool across : {true, false}) {
        std::vector<Rgb> picture(width * height);
        for (std::uint32_t y = 0; y < height; ++y) {
          for (std::uint32_t x = 0; x < width; ++x) picture[y * width + x] = (across ? x : y) >= edge ? object : backdrop;
        }
        std::vector<Pixel32> stored = storedAsJpegDoes(picture, width, height, sampling.blockWidth, sampling.blockHeight);
        rebuildColourFromLuma(stored.data(), width, height, static_cast<int>(sampling.blockWidth),
                              static_cast<int>(sampling.blockHeight));
        EXPECT_LE(largestError(stored, picture), 3) << sampling.blockWidth << "x" << sampling.blockHeight << " edge at "
                                                    << edge << (across ? " across" : " down");
      }
    }
  }
}

// Where the luma says nothing (flat, or two colours of one brightness) the
// result is the usual blend, never a colour beyond those of the samples.
TEST(LumaGuidedChroma, FallsBackToTheBlendWhereLumaIsFlat) {
  const std::uint32_t width = 8, height = 6;
  std::vector<Rgb> flat(width * height, Rgb{120, 60, 200});
  std::vector<Pixel32> stored = storedAsJpegDoes(flat, width, height, 2, 2);
  rebuildColourFromLuma(stored.data(), width, height, 2, 2);
  EXPECT_LE(largestError(stored, flat), 1);

  // Red and a green of the same luma: the rim is a blend of the two.
  const Rgb red{200, 40, 40}, green{30, 127, 40};
  ASSERT_NEAR(yccOf(red).luma, yccOf(green).luma, 0.5);
  std::vector<Rgb> halves(width * height);
  for (std::uint32_t i = 0; i < halves.size(); ++i) halves[i] = i % width >= 3 ? green : red;
  stored = storedAsJpegDoes(halves, width, height, 2, 2);
  rebuildColourFromLuma(stored.data(), width, height, 2, 2);
  for (std::uint32_t i = 0; i < halves.size(); ++i) {
    const int rebuiltRed = static_cast<int>(stored[i] >> 16 & 0xFF);
    EXPECT_GE(rebuiltRed, green.red - 2) << i;
    EXPECT_LE(rebuiltRed, red.red + 2) << i;
  }
}

}  // namespace
}  // namespace Kvl::Test

// Matte refinement on small made-up mattes: what each step does to the
// alpha, the order they come in, and that a streamed picture comes out as
// the whole frame does, from either end.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "keying/MatteRefiner.h"

namespace Kvl::Test {
namespace {

// A width x height frame, top row first, whose alphas are `alpha(x, y)` and
// whose colours all differ, so a colour that changed shows.
struct Frame {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Pixel32> pixels;

  template <class AlphaOf>
  static Frame make(std::uint32_t width, std::uint32_t height, AlphaOf alpha) {
    Frame frame{width, height, {}};
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) {
        frame.pixels.push_back(makePixel(static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 11),
                                         static_cast<std::uint8_t>(x + y), static_cast<std::uint8_t>(alpha(x, y))));
      }
    }
    return frame;
  }
  int alpha(std::uint32_t x, std::uint32_t y) const { return alphaOf(pixels[std::size_t{y} * width + x]); }
};

Frame refined(Frame frame, const MatteRefinement& refinement) {
  refineFrame(refinement, frame.pixels.data(), frame.width, frame.height);
  return frame;
}

MatteRefinement choke(int pixels) {
  MatteRefinement refinement;
  refinement.choke = pixels;
  return refinement;
}

MatteRefinement feather(int pixels) {
  MatteRefinement refinement;
  refinement.feather = pixels;
  return refinement;
}

std::shared_ptr<const MatteMask> maskOf(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> values) {
  return std::make_shared<const MatteMask>(MatteMask{width, height, std::move(values)});
}

void expectColoursKept(const Frame& got, const Frame& original) {
  ASSERT_EQ(got.pixels.size(), original.pixels.size());
  for (std::size_t i = 0; i < got.pixels.size(); ++i) {
    ASSERT_EQ(got.pixels[i] & 0x00FFFFFFu, original.pixels[i] & 0x00FFFFFFu) << "pixel " << i;
  }
}

bool inside(std::uint32_t x, std::uint32_t y, std::uint32_t left, std::uint32_t top, std::uint32_t right,
            std::uint32_t bottom) {
  return x >= left && x < right && y >= top && y < bottom;
}

TEST(MatteRefiner, ChokeRemovesTheRimAndSpecksAndKeepsTheCore) {
  // A 10x8 solid block at (5,4) and a lone solid pixel at (1,1).
  const Frame frame = Frame::make(22, 16, [](std::uint32_t x, std::uint32_t y) {
    return inside(x, y, 5, 4, 15, 12) || (x == 1 && y == 1) ? 255 : 0;
  });
  for (const int n : {1, 2, 3}) {
    const Frame got = refined(frame, choke(n));
    const auto un = static_cast<std::uint32_t>(n);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
      for (std::uint32_t x = 0; x < frame.width; ++x) {
        ASSERT_EQ(got.alpha(x, y), inside(x, y, 5 + un, 4 + un, 15 - un, 12 - un) ? 255 : 0)
            << "choke " << n << " x " << x << " y " << y;
      }
    }
    expectColoursKept(got, frame);
  }
  // Wider than the block is tall: nothing is left.
  const Frame gone = refined(frame, choke(4));
  for (std::uint32_t i = 0; i < frame.pixels.size(); ++i) ASSERT_EQ(alphaOf(gone.pixels[i]), 0) << i;
}

TEST(MatteRefiner, ChokeMovesSoftEdgesInAndKeepsASolidFrameSolidToItsBorder) {
  // Across: clear, a soft edge, then solid to the right border.
  const int row[] = {0, 0, 60, 180, 255, 255, 255, 255};
  const Frame frame = Frame::make(8, 3, [&](std::uint32_t x, std::uint32_t) { return row[x]; });
  const Frame got = refined(frame, choke(1));
  const int want[] = {0, 0, 0, 60, 180, 255, 255, 255};
  for (std::uint32_t y = 0; y < 3; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ(got.alpha(x, y), want[x]) << "x " << x << " y " << y;
  }
}

TEST(MatteRefiner, FeatherKeepsFlatAreasExactAndRampsMonotonicallyAcrossAnEdge) {
  // Clear left of column 15, solid from it on, every row alike.
  const Frame frame = Frame::make(30, 12, [](std::uint32_t x, std::uint32_t) { return x < 15 ? 0 : 255; });
  for (const int n : {1, 2, 4, 7}) {
    const Frame got = refined(frame, feather(n));
    const auto un = static_cast<std::uint32_t>(n);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
      for (std::uint32_t x = 0; x < frame.width; ++x) {
        const std::string where =
            "feather " + std::to_string(n) + " x " + std::to_string(x) + " y " + std::to_string(y);
        if (x + un < 15) ASSERT_EQ(got.alpha(x, y), 0) << where;
        if (x >= 15 + un) ASSERT_EQ(got.alpha(x, y), 255) << where;
        if (x > 0) ASSERT_LE(got.alpha(x - 1, y), got.alpha(x, y)) << where;
        ASSERT_EQ(got.alpha(x, y), got.alpha(x, 0)) << where;
      }
    }
    // The edge itself has become soft on both sides.
    EXPECT_GT(got.alpha(14, 0), 0);
    EXPECT_LT(got.alpha(15, 0), 255);
    expectColoursKept(got, frame);
  }
  // A frame solid to its borders stays solid: outside counts for nothing.
  const Frame solid = Frame::make(9, 5, [](std::uint32_t, std::uint32_t) { return 255; });
  const Frame blurred = refined(solid, feather(6));
  for (const Pixel32 pixel : blurred.pixels) ASSERT_EQ(alphaOf(pixel), 255);
}

TEST(MatteRefiner, GarbageRectanglesClearExactlyTheirPixelsClippedToThePicture) {
  const Frame frame =
      Frame::make(12, 9, [](std::uint32_t x, std::uint32_t y) { return 100 + static_cast<int>(x + y); });
  MatteRefinement refinement;
  refinement.garbage = {{2, 1, 3, 2}, {9, -4, 10, 6}, {-5, 7, 6, 100}, {20, 0, 5, 5}};
  const Frame got = refined(frame, refinement);
  for (std::uint32_t y = 0; y < frame.height; ++y) {
    for (std::uint32_t x = 0; x < frame.width; ++x) {
      const bool cleared = inside(x, y, 2, 1, 5, 3) || inside(x, y, 9, 0, 12, 2) || inside(x, y, 0, 7, 1, 9);
      EXPECT_EQ(got.alpha(x, y), cleared ? 0 : frame.alpha(x, y)) << "x " << x << " y " << y;
    }
  }
  expectColoursKept(got, frame);
}

TEST(MatteRefiner, MasksClearAndSolidifyAndGreyScales) {
  // A 2x2 mask stretched over a 4x4 frame: each value covers a quadrant.
  const Frame frame = Frame::make(4, 4, [](std::uint32_t, std::uint32_t) { return 200; });
  MatteRefinement clearing;
  clearing.garbageMatte = maskOf(2, 2, {255, 0, 128, 64});
  const Frame cleared = refined(frame, clearing);
  const int wantCleared[] = {0, 200, (200 * 127 + 127) / 255, (200 * 191 + 127) / 255};
  MatteRefinement holding;
  holding.holdoutMatte = maskOf(2, 2, {255, 0, 128, 64});
  const Frame held = refined(frame, holding);
  const int wantHeld[] = {255, 200, 200 + (55 * 128 + 127) / 255, 200 + (55 * 64 + 127) / 255};
  for (std::uint32_t y = 0; y < 4; ++y) {
    for (std::uint32_t x = 0; x < 4; ++x) {
      const std::size_t quadrant = (y / 2) * 2 + x / 2;
      EXPECT_EQ(cleared.alpha(x, y), wantCleared[quadrant]) << "x " << x << " y " << y;
      EXPECT_EQ(held.alpha(x, y), wantHeld[quadrant]) << "x " << x << " y " << y;
    }
  }
  expectColoursKept(cleared, frame);
  expectColoursKept(held, frame);

  // A mask larger than the frame: each pixel takes the mask pixel under its centre.
  const Frame wide = Frame::make(2, 1, [](std::uint32_t, std::uint32_t) { return 255; });
  MatteRefinement larger;
  larger.garbageMatte = maskOf(4, 1, {0, 255, 0, 255});  // centres at 1 and 3
  const Frame sampled = refined(wide, larger);
  EXPECT_EQ(sampled.alpha(0, 0), 0);
  EXPECT_EQ(sampled.alpha(1, 0), 0);
}

TEST(MatteRefiner, GarbageComesBeforeTheChokeAndHoldoutAfterTheFeather) {
  const Frame solid = Frame::make(12, 6, [](std::uint32_t, std::uint32_t) { return 255; });
  // A cleared column 5 is widened by the choke that follows it.
  MatteRefinement refinement = choke(1);
  refinement.garbage = {{5, 0, 1, 6}};
  const Frame choked = refined(solid, refinement);
  for (std::uint32_t x = 0; x < 12; ++x) EXPECT_EQ(choked.alpha(x, 3), x >= 4 && x <= 6 ? 0 : 255) << x;
  // A held-out right half stays exactly solid next to a feathered edge.
  refinement = feather(2);
  refinement.garbage = {{0, 0, 6, 6}};
  std::vector<std::uint8_t> right(12 * 6, 0);
  for (std::size_t i = 0; i < right.size(); ++i) right[i] = i % 12 >= 6 ? 255 : 0;
  refinement.holdoutMatte = maskOf(12, 6, right);
  const Frame held = refined(solid, refinement);
  for (std::uint32_t x = 0; x < 12; ++x) {
    if (x >= 6) EXPECT_EQ(held.alpha(x, 3), 255) << x;
    if (x < 4) EXPECT_EQ(held.alpha(x, 3), 0) << x;
  }
  EXPECT_GT(held.alpha(5, 3), 0);
}

// The filters done the slow way, pixel by pixel over the whole window: the
// least alpha of the square, then the three boxes across, then down, each a
// mean rounded half up over the part of the window inside the picture.
std::vector<int> slowRefinement(const Frame& frame, int choke, int feather) {
  const int width = static_cast<int>(frame.width), height = static_cast<int>(frame.height);
  std::vector<int> alpha(frame.pixels.size());
  const auto at = [&](std::vector<int>& values, int x, int y) -> int& {
    return values[static_cast<std::size_t>(y * width + x)];
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int least = 255;
      for (int v = std::max(0, y - choke); v <= std::min(height - 1, y + choke); ++v) {
        for (int u = std::max(0, x - choke); u <= std::min(width - 1, x + choke); ++u) {
          least = std::min(least, frame.alpha(static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(v)));
        }
      }
      at(alpha, x, y) = least;
    }
  }
  const auto box = [&](int radius, bool across) {
    std::vector<int> out = alpha;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int along = across ? x : y, length = across ? width : height;
        int sum = 0, count = 0;
        for (int i = std::max(0, along - radius); i <= std::min(length - 1, along + radius); ++i, ++count) {
          sum += across ? at(alpha, i, y) : at(alpha, x, i);
        }
        at(out, x, y) = (sum + count / 2) / count;
      }
    }
    alpha = out;
  };
  for (const int radius : featherBoxRadii(feather)) box(radius, true);
  for (const int radius : featherBoxRadii(feather)) box(radius, false);
  return alpha;
}

TEST(MatteRefiner, MatchesTheSlowFiltersForRadiiUpToBeyondThePicture) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 60; ++trial) {
    const auto width = static_cast<std::uint32_t>(1 + random() % 14);
    const auto height = static_cast<std::uint32_t>(1 + random() % 14);
    const Frame frame = Frame::make(width, height, [&](std::uint32_t, std::uint32_t) {
      return static_cast<int>(random() % 3 == 0 ? 255 : random() % 256);
    });
    MatteRefinement refinement;
    refinement.choke = static_cast<int>(random() % 18);
    refinement.feather = static_cast<int>(random() % 18);
    const Frame got = refined(frame, refinement);
    const std::vector<int> want = slowRefinement(frame, refinement.choke, refinement.feather);
    for (std::size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(alphaOf(got.pixels[i]), want[i]) << width << "x" << height << " choke " << refinement.choke
                                                 << " feather " << refinement.feather << " pixel " << i;
    }
  }
}

// Rows pushed from the bottom come out bottom first, and equal the whole
// frame refined from the top, for every step at once.
TEST(MatteRefiner, RowsFromTheBottomGiveTheSameMatteAsFromTheTop) {
  std::mt19937 random(7);
  const Frame frame = Frame::make(23, 17, [&](std::uint32_t, std::uint32_t) {
    return static_cast<int>(random() % 4 == 0 ? 0 : random() % 256);
  });
  MatteRefinement refinement;
  refinement.choke = 2;
  refinement.feather = 3;
  refinement.garbage = {{3, 2, 4, 5}};
  std::vector<std::uint8_t> ramp(5 * 3);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i * 17);
  refinement.garbageMatte = maskOf(5, 3, ramp);
  refinement.holdoutMatte = maskOf(3, 5, std::vector<std::uint8_t>(ramp.rbegin(), ramp.rend()));
  for (const int height : {17, 1, 2, 5}) {
    Frame part = frame;
    part.height = static_cast<std::uint32_t>(height);
    part.pixels.resize(std::size_t{part.width} * part.height);
    const Frame whole = refined(part, refinement);

    std::vector<Pixel32> streamed(part.pixels.size());
    std::vector<std::uint32_t> order;
    MatteRefiner refiner(refinement, part.width, part.height, RowOrder::BottomUp,
                         [&](const Pixel32* row, std::uint32_t topRow) {
                           order.push_back(topRow);
                           std::copy_n(row, part.width, streamed.data() + std::size_t{topRow} * part.width);
                         });
    for (std::uint32_t y = part.height; y-- > 0;) refiner.push(part.pixels.data() + std::size_t{y} * part.width);
    refiner.finish();
    ASSERT_EQ(order.size(), part.height);
    for (std::uint32_t i = 0; i < part.height; ++i) EXPECT_EQ(order[i], part.height - 1 - i);
    EXPECT_EQ(streamed, whole.pixels) << "height " << height;
  }
}

}  // namespace
}  // namespace Kvl::Test

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "engine/ChannelControls.h"
#include "engine/KeyProcessor.h"
#include "engine/PreviewWorkspace.h"
#include "support/RecordingShell.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::RecordingShell;
using Test::TempDir;
using Test::TgaBytes;
using Strings = std::vector<std::string>;

// A processor over buffers the test fills directly.
class ChannelControlsTest : public ::testing::Test {
protected:
  ChannelControlsTest() { KeyProcessor::fillCheckerboard(checker.data()); }

  void fillSource(Pixel32 colour) { std::fill(source.begin(), source.end(), colour); }
  // Preview pixels whose raw key alpha (green, no levels) is exactly `alpha`:
  // green 255 over red = blue = alpha, so the excess is 255 - alpha.
  void putKeyAlpha(std::size_t index, std::uint8_t alpha) { source[index] = makePixel(alpha, 255, alpha); }

  std::vector<std::uint8_t> checker = std::vector<std::uint8_t>(PreviewPixelCount);
  std::vector<Pixel32> source = std::vector<Pixel32>(PreviewPixelCount, makePixel(80, 80, 80));
  std::vector<Pixel32> composite = std::vector<Pixel32>(PreviewPixelCount);
  std::vector<Pixel32> matte = std::vector<Pixel32>(PreviewPixelCount);
  RecordingShell shell;
  KeyProcessor processor{checker.data(), source.data(), composite.data(), matte.data(), &shell};
  KeySettings settings;
};

TEST_F(ChannelControlsTest, DominantChannelBreaksTiesTowardsGreenThenBlue) {
  fillSource(makePixel(90, 90, 90));
  EXPECT_EQ(processor.dominantChannel(), GreenChannel);
  fillSource(makePixel(90, 40, 90));
  EXPECT_EQ(processor.dominantChannel(), BlueChannel);
  fillSource(makePixel(90, 40, 40));
  EXPECT_EQ(processor.dominantChannel(), RedChannel);
  fillSource(makePixel(90, 90, 40));
  EXPECT_EQ(processor.dominantChannel(), GreenChannel);
  // Sums, not majorities: one bright blue pixel outweighs many dim red ones.
  fillSource(makePixel(1, 0, 0));
  source[5] = makePixel(0, 0, 255);
  source[6] = makePixel(0, 0, 255);
  EXPECT_EQ(processor.dominantChannel(), RedChannel);
  source[7] = makePixel(0, 0, 255);
  std::fill(source.begin() + 8, source.begin() + 38400 - 765 + 8, makePixel(0, 0, 0));
  EXPECT_EQ(processor.dominantChannel(), BlueChannel);
}

TEST(AutoAdjustIndex, TakesHalfMinusFifth) {
  const std::pair<std::size_t, std::size_t> cases[] = {{1, 0}, {2, 1}, {4, 2}, {5, 1}, {10, 3}, {38400, 11520}};
  for (auto [count, index] : cases) EXPECT_EQ(autoAdjustIndex(count), index) << count;
  // Against the single-precision factor, for every possible sample count.
  for (std::size_t n = 1; n <= PreviewPixelCount; ++n) {
    const auto half = static_cast<std::size_t>(static_cast<double>(n) * 0.5);
    const auto fifth = static_cast<std::size_t>(static_cast<double>(n) * static_cast<double>(0.2f));
    ASSERT_EQ(autoAdjustIndex(n), half - fifth) << n;
  }
}

TEST_F(ChannelControlsTest, SelectChannelSetsTheButtonsInOrderAndRendersWithUnchangedSliders) {
  settings.contrast = 30;
  settings.offset = 9;
  fillSource(makePixel(20, 40, 250));
  selectChannel(BlueChannel, settings, shell, &processor);
  EXPECT_EQ(shell.calls, (Strings{"check 0 0", "check 1 0", "check 2 1"}));
  EXPECT_EQ(settings.channel, BlueChannel);
  EXPECT_EQ(settings.contrast, 30);
  EXPECT_EQ(settings.offset, 9);
  // Rendered with blue at 30 / 9: key alpha 35 levels to 0.
  EXPECT_EQ(matte[0], 0u);
  EXPECT_EQ(blueOf(composite[0]), 255);  // the light checkerboard square
}

TEST_F(ChannelControlsTest, SelectChannelWithoutAProcessorOnlySetsTheButtons) {
  selectChannel(GreenChannel, settings, shell, nullptr);
  EXPECT_EQ(shell.calls, (Strings{"check 0 0", "check 1 1", "check 2 0"}));
}

TEST_F(ChannelControlsTest, AutoAdjustPicksContrastFromTheSortedPartlyClearAlphas) {
  const std::uint8_t samples[] = {100, 90, 80, 70, 60, 50, 40, 30, 20, 11};  // unsorted on purpose
  for (std::size_t i = 0; i < std::size(samples); ++i) putKeyAlpha(i * 37, samples[i]);
  // Bounds: 10 and 245 are left out; the grey rest is opaque.
  putKeyAlpha(5000, 10);
  putKeyAlpha(5001, 245);
  settings.contrast = 200;
  settings.offset = 100;
  autoAdjust(settings, shell, &processor);
  EXPECT_EQ(settings.contrast, 40);
  EXPECT_EQ(settings.offset, 20);
  EXPECT_EQ(shell.calls, (Strings{"offset 0 quiet", "contrast 0 quiet", "offset 20 redraw", "contrast 40 redraw"}));
  // The previews still show the neutral render, not the chosen values.
  EXPECT_EQ(alphaOf(composite[37]), 90);
  EXPECT_EQ(matte[37], makePixel(90, 90, 90, 0));
}

TEST_F(ChannelControlsTest, AutoAdjustWithOneSampleHalvesItForTheOffset) {
  putKeyAlpha(123, 101);
  autoAdjust(settings, shell, &processor);
  EXPECT_EQ(settings.contrast, 101);
  EXPECT_EQ(settings.offset, 50);
}

TEST_F(ChannelControlsTest, AutoAdjustWithNothingPartlyClearLeavesTheSlidersAtZero) {
  fillSource(makePixel(0, 255, 0));  // pure backdrop
  std::fill(source.begin(), source.begin() + 1000, makePixel(90, 90, 90));  // opaque grey figure
  settings.contrast = 77;
  settings.offset = 33;
  autoAdjust(settings, shell, &processor);
  EXPECT_EQ(settings.contrast, 0);
  EXPECT_EQ(settings.offset, 0);
  EXPECT_EQ(shell.calls, (Strings{"offset 0 quiet", "contrast 0 quiet"}));
}

TEST_F(ChannelControlsTest, AutoAdjustTwiceGivesTheSameValues) {
  for (std::size_t i = 0; i < 3000; ++i) putKeyAlpha(i * 11, static_cast<std::uint8_t>(11 + i % 230));
  autoAdjust(settings, shell, &processor);
  const KeySettings first = settings;
  autoAdjust(settings, shell, &processor);
  EXPECT_EQ(settings.contrast, first.contrast);
  EXPECT_EQ(settings.offset, first.offset);
  EXPECT_NE(first.contrast, 0);
}

// What the window's auto adjust saw before the choice was a pure function:
// the alphas on the composite of a render at 0 / 0, sorted.
KeySettings settingsFromRender(KeyProcessor& processor, const std::vector<Pixel32>& composite) {
  const KeyChannel channel = processor.dominantChannel();
  processor.render(channel, 0, 0);
  std::vector<std::uint8_t> alphas;
  for (const Pixel32 pixel : composite) {
    if (alphaOf(pixel) >= 11 && alphaOf(pixel) <= 244) alphas.push_back(alphaOf(pixel));
  }
  if (alphas.empty()) return {channel, 0, 0};
  std::sort(alphas.begin(), alphas.end());
  const std::uint8_t contrast = alphas[autoAdjustIndex(alphas.size())];
  return {channel, contrast, static_cast<std::uint8_t>(contrast / 2)};
}

// The command line takes chooseSettings straight from the preview; it must
// agree with what the window reads off its render, on busy pictures, on a
// pure backdrop and on one with nothing partly clear.
TEST_F(ChannelControlsTest, ChooseSettingsEqualsWhatTheRenderAtZeroGives) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> byte(0, 255);
  const auto randomPixel = [&] { return makePixel(byte(rng), byte(rng), byte(rng)); };
  const auto blueFringe = [&] { return makePixel(byte(rng) / 2, byte(rng) / 2, 128 + byte(rng) / 2); };
  const std::function<Pixel32()> fills[] = {randomPixel, blueFringe, [] { return makePixel(0, 255, 0); }};
  for (const auto& fill : fills) {
    std::generate(source.begin(), source.end(), fill);
    const KeySettings expected = settingsFromRender(processor, composite);
    EXPECT_EQ(chooseSettings(source.data(), SettingsRequest::automatic()), expected);
  }
  std::fill(source.begin(), source.begin() + 1000, makePixel(90, 90, 90));  // opaque, on the green backdrop
  EXPECT_EQ(chooseSettings(source.data(), SettingsRequest::automatic()), (KeySettings{GreenChannel, 0, 0}));
  // A detected channel keeps the given sliders.
  EXPECT_EQ(chooseSettings(source.data(), {std::nullopt, 40, 20, false}), (KeySettings{GreenChannel, 40, 20}));
}

TEST(OpenPicture, DetectsTheChannelThenAutoAdjusts) {
  TempDir dir;
  // A blue backdrop with a partly clear fringe column.
  std::vector<Pixel32> pixels;
  for (int row = 0; row < 4; ++row) {
    pixels.insert(pixels.end(), {makePixel(0, 0, 255), makePixel(0, 0, 255), makePixel(90, 80, 160), makePixel(200, 150, 120)});
  }
  const std::string path = TgaBytes(4, 4).pixels(pixels).writeTo(dir.path() / "blue.tga");
  RecordingShell shell;
  PreviewWorkspace workspace(shell);
  KeySettings settings;
  openPicture(path.c_str(), settings, shell, workspace.processor());
  EXPECT_EQ(settings.channel, BlueChannel);
  // The fringe keys to 255 - (160 - 85) = 180; it is the only partly clear alpha.
  EXPECT_EQ(settings.contrast, 180);
  EXPECT_EQ(settings.offset, 90);
  EXPECT_EQ(shell.calls, (Strings{"check 0 0", "check 1 0", "check 2 1", "offset 0 quiet", "contrast 0 quiet",
                                  "offset 90 redraw", "contrast 180 redraw"}));
  EXPECT_EQ(workspace.processor().sourcePath(), path);
}

}  // namespace
}  // namespace Kvl

#include <gtest/gtest.h>

#include "engine/KeyProcessor.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "support/RecordingShell.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::readFileBytes;
using Test::RecordingShell;
using Test::TempDir;
using Test::TgaBytes;

// A picture whose every pixel tells its own column and row.
std::vector<Pixel32> coordinatePicture(int width, int height) {
  std::vector<Pixel32> pixels;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      pixels.push_back(makePixel(static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(row), 7));
    }
  }
  return pixels;
}

class KeyProcessorTest : public ::testing::Test {
protected:
  std::string write(int width, int height, const char* name = "picture.tga") {
    return TgaBytes(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height))
        .pixels(coordinatePicture(width, height))
        .writeTo(dir.path() / name);
  }
  Pixel32 preview(int column, int row) const { return workspace.previewSource()[row * PreviewWidth + column]; }
  int sourceColumn(int column, int row = 0) const { return redOf(preview(column, row)); }
  int sourceRow(int row, int column = 0) const { return greenOf(preview(column, row)); }

  TempDir dir;
  RecordingShell shell;
  PreviewWorkspace workspace{shell};
  KeyProcessor& processor = workspace.processor();
};

TEST_F(KeyProcessorTest, StretchesAOnePixelPictureOverThePreview) {
  processor.loadSource(TgaBytes(1, 1).pixels({makePixel(9, 8, 7)}).writeTo(dir.path() / "dot.tga").c_str());
  for (int i = 0; i < PreviewPixelCount; ++i) ASSERT_EQ(workspace.previewSource()[i], makePixel(9, 8, 7));
}

TEST_F(KeyProcessorTest, SamplesASmallPictureByNearestNeighbour) {
  processor.loadSource(write(3, 2).c_str());
  EXPECT_EQ(sourceColumn(0), 0);
  EXPECT_EQ(sourceColumn(79), 0);
  EXPECT_EQ(sourceColumn(80), 1);
  EXPECT_EQ(sourceColumn(159), 1);
  EXPECT_EQ(sourceColumn(160), 2);
  EXPECT_EQ(sourceColumn(239), 2);
  EXPECT_EQ(sourceRow(0), 0);
  EXPECT_EQ(sourceRow(79), 0);
  EXPECT_EQ(sourceRow(80), 1);
  EXPECT_EQ(sourceRow(159), 1);
}

TEST_F(KeyProcessorTest, SinglePrecisionFractionsMakeSomePreviewColumnsTakeTheirNeighbour) {
  processor.loadSource(write(240, 160).c_str());
  EXPECT_EQ(sourceColumn(0), 0);
  EXPECT_EQ(sourceColumn(17), 16);
  EXPECT_EQ(sourceRow(0), 0);
  EXPECT_EQ(sourceRow(7), 6);
  int shiftedColumns = 0, shiftedRows = 0;
  for (int k = 0; k < PreviewWidth; ++k) shiftedColumns += sourceColumn(k) != k;
  for (int j = 0; j < PreviewHeight; ++j) shiftedRows += sourceRow(j) != j;
  EXPECT_EQ(shiftedColumns, 105);
  EXPECT_EQ(shiftedRows, 62);
}

TEST_F(KeyProcessorTest, AFailedLoadKeepsThePreviewButStoresThePath) {
  processor.loadSource(write(3, 2).c_str());
  const std::vector<Pixel32> before(workspace.previewSource(), workspace.previewSource() + PreviewPixelCount);
  const std::string broken = TgaBytes(1, 1, 16).raw({1, 2}).writeTo(dir.path() / "broken.tga");
  processor.loadSource(broken.c_str());
  EXPECT_EQ(processor.sourcePath(), broken);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), workspace.previewSource()));
  // An empty picture has nothing to sample either.
  processor.loadSource(TgaBytes(0, 5).writeTo(dir.path() / "empty.tga").c_str());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), workspace.previewSource()));
}

TEST_F(KeyProcessorTest, BeforeAnyLoadTheRenderIsOpaqueBlackOverAWhiteMatte) {
  processor.render(GreenChannel, 0, 0);
  for (int i = 0; i < PreviewPixelCount; ++i) {
    ASSERT_EQ(workspace.composite()[i], 0xFF000000u);
    ASSERT_EQ(workspace.matte()[i], 0x00FFFFFFu);
  }
}

// Renders one preview pixel of the given colour over a chosen grey.
struct RenderedPixel {
  Pixel32 composite;
  Pixel32 matte;
};

RenderedPixel renderOne(Pixel32 colour, std::uint8_t grey, KeyChannel channel, std::uint8_t contrast,
                        std::uint8_t offset) {
  std::vector<std::uint8_t> checker(PreviewPixelCount, grey);
  std::vector<Pixel32> source(PreviewPixelCount, colour), composite(PreviewPixelCount), matte(PreviewPixelCount);
  KeyProcessor(checker.data(), source.data(), composite.data(), matte.data(), nullptr)
      .render(channel, contrast, offset);
  return {composite[PreviewPixelCount - 1], matte[PreviewPixelCount - 1]};
}

TEST(KeyProcessorRender, BlendsOverTheCheckerboardDroppingTheRemainder) {
  // Opaque after the key; Contrast 127 levels 255 down to 128.
  const RenderedPixel half = renderOne(makePixel(200, 100, 50), 255, GreenChannel, 127, 0);
  EXPECT_EQ(half.composite, makePixel(227, 177, 152, 128));
  EXPECT_EQ(half.matte, makePixel(128, 128, 128, 0));

  const RenderedPixel clear = renderOne(makePixel(0, 255, 0), 192, GreenChannel, 0, 0);
  EXPECT_EQ(clear.composite, makePixel(192, 192, 192, 0));
  EXPECT_EQ(clear.matte, 0u);

  const RenderedPixel solid = renderOne(makePixel(60, 90, 100), 192, GreenChannel, 0, 0);
  EXPECT_EQ(solid.composite, makePixel(60, 80, 100, 255));
}

TEST(KeyProcessorRender, TheCompositeAlphaAndTheMatteHoldTheLevelledAlpha) {
  // Keyed alpha 200 (50, 120, 80 on green), levelled at C 10 / O 20 to 205.
  const RenderedPixel levelled = renderOne(makePixel(50, 120, 80), 255, GreenChannel, 10, 20);
  EXPECT_EQ(alphaOf(levelled.composite), 205);
  EXPECT_EQ(levelled.matte, makePixel(205, 205, 205, 0));
}

TEST(Checkerboard, HasTwelvePixelCellsStartingLightAtTheBottomLeft) {
  std::vector<std::uint8_t> board(PreviewPixelCount);
  KeyProcessor::fillCheckerboard(board.data());
  auto at = [&](int column, int row) { return board[static_cast<std::size_t>(row * PreviewWidth + column)]; };
  EXPECT_EQ(at(0, 0), 255);
  EXPECT_EQ(at(11, 11), 255);
  EXPECT_EQ(at(12, 0), 192);
  EXPECT_EQ(at(0, 12), 192);
  EXPECT_EQ(at(12, 12), 255);
  EXPECT_EQ(at(239, 159), 255);  // cell (19, 13) of the short top row
  EXPECT_EQ(at(239, 156), 255);
  EXPECT_EQ(at(239, 155), 192);

  KeyProcessor::scrollCheckerboard(board.data());
  for (int column = 0; column <= 10; ++column) EXPECT_EQ(at(column, 0), 255) << column;
  EXPECT_EQ(at(11, 0), 192);
  EXPECT_EQ(at(239, 0), 255);  // the old column 0
}

TEST(Checkerboard, FollowsTheRunningFlipRule) {
  // Walking the buffer: flip at every 12 rows, flip again at every 12 pixels.
  std::vector<std::uint8_t> board(PreviewPixelCount);
  KeyProcessor::fillCheckerboard(board.data());
  std::uint8_t value = 255;
  for (int i = 0; i < PreviewPixelCount; ++i) {
    if (i % 2880 == 0) value = value == 255 ? 192 : 255;
    if (i % 12 == 0) value = value == 255 ? 192 : 255;
    ASSERT_EQ(board[static_cast<std::size_t>(i)], value) << "index " << i;
  }
}

TEST(Checkerboard, ScrollingRepeatsAfterTwentyFourPixels) {
  std::vector<std::uint8_t> start(PreviewPixelCount);
  KeyProcessor::fillCheckerboard(start.data());
  std::vector<std::uint8_t> board = start;
  for (int scroll = 1; scroll <= 24; ++scroll) {
    KeyProcessor::scrollCheckerboard(board.data());
    EXPECT_EQ(board == start, scroll == 24) << "after " << scroll << " scrolls";
  }
}

TEST_F(KeyProcessorTest, ASaveWithoutAReadableSourceShowsExactlyOneMessage) {
  const std::string output = dir.file("keyed.tga");
  processor.saveKeyed(output.c_str(), GreenChannel, 0, 0);  // before any load
  EXPECT_EQ(shell.calls, std::vector<std::string>{"error Unable to save file. / Saving Failed"});

  shell.calls.clear();
  processor.loadSource(write(3, 2).c_str());
  processor.loadSource(dir.file("missing.tga").c_str());  // the preview keeps the first picture
  processor.saveKeyed(output.c_str(), GreenChannel, 0, 0);
  EXPECT_EQ(shell.calls, std::vector<std::string>{"error Unable to save file. / Saving Failed"});
  EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(KeyProcessorTest, SaveKeyedWritesTheFullPictureSilently) {
  const std::string source = write(30, 20);
  processor.loadSource(source.c_str());
  const std::string output = dir.file("keyed.tga");
  processor.saveKeyed(output.c_str(), BlueChannel, 40, 20);
  EXPECT_TRUE(shell.calls.empty());
  TgaSaver direct;
  const std::string reference = dir.file("reference.tga");
  ASSERT_TRUE(direct.save(reference.c_str(), source.c_str(), BlueChannel, 40, 20));
  EXPECT_EQ(readFileBytes(output), readFileBytes(reference));
}

}  // namespace
}  // namespace Kvl

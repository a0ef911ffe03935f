#include <gtest/gtest.h>

#include "keying/Key.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::readFileBytes;
using Test::TempDir;
using Test::TgaBytes;
using Bytes = std::vector<std::uint8_t>;

constexpr Pixel32 Backdrop = makePixel(40, 220, 60);
constexpr Pixel32 Skin = makePixel(210, 150, 120);
constexpr Pixel32 Fringe = makePixel(120, 170, 90);

// What the writer must produce for `pixels` (bottom-up, left to right): the
// header, idLength zero bytes, then each pixel keyed and levelled.
Bytes expectedFile(const std::vector<Pixel32>& pixels, std::uint16_t width, std::uint16_t height,
                   std::uint8_t idLength, KeyChannel channel, std::uint8_t contrast, std::uint8_t offset) {
  Bytes out = {idLength, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  out.push_back(static_cast<std::uint8_t>(width));
  out.push_back(static_cast<std::uint8_t>(width >> 8));
  out.push_back(static_cast<std::uint8_t>(height));
  out.push_back(static_cast<std::uint8_t>(height >> 8));
  out.push_back(32);
  out.push_back(0);
  out.insert(out.end(), idLength, 0);
  for (Pixel32 pixel : pixels) {
    keyPixel(pixel, channel);
    applyLevels(pixel, contrast, offset);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(pixel >> shift));
  }
  return out;
}

class TgaSaverTest : public ::testing::Test {
protected:
  bool save(const std::string& source, KeyChannel channel = GreenChannel, std::uint8_t contrast = 0,
            std::uint8_t offset = 0) {
    return saver.save(output.c_str(), source.c_str(), channel, contrast, offset);
  }
  std::string write(const TgaBytes& tga, const char* name = "source.tga") {
    return tga.writeTo(dir.path() / name);
  }

  TempDir dir;
  std::string output = dir.file("keyed.tga");
  TgaSaver saver;
};

TEST_F(TgaSaverTest, WritesTheHeaderAndKeyedPixelsByteForByte) {
  ASSERT_TRUE(save(write(TgaBytes(2, 1).pixels({makePixel(0, 255, 0), makePixel(100, 100, 100)}))));
  const Bytes expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 32, 0,
                          0, 0, 0, 0,            // backdrop: black, clear
                          100, 100, 100, 255};   // grey: opaque
  EXPECT_EQ(readFileBytes(output), expected);
}

TEST_F(TgaSaverTest, ZeroesTheImageIdButKeepsItsLength) {
  for (std::size_t idLength : {5u, 200u}) {
    const Bytes id(idLength, 'x');
    ASSERT_TRUE(save(write(TgaBytes(3, 2).id(id).pixels({Backdrop, Skin, Fringe, Fringe, Skin, Backdrop})), BlueChannel, 30, 10));
    EXPECT_EQ(readFileBytes(output),
              expectedFile({Backdrop, Skin, Fringe, Fringe, Skin, Backdrop}, 3, 2,
                           static_cast<std::uint8_t>(idLength), BlueChannel, 30, 10));
  }
}

TEST_F(TgaSaverTest, WritesRunLengthAnd32BitSourcesUncompressedWithTheKeysAlpha) {
  ASSERT_TRUE(save(write(TgaBytes(4, 2, 32).rle().runPacket(3, Backdrop).rawPacket({Skin, Fringe}).runPacket(3, Skin)), GreenChannel, 40, 20));
  // The file's own alpha (0x80 in every pixel) never reaches the output.
  EXPECT_EQ(readFileBytes(output), expectedFile({Backdrop, Backdrop, Backdrop, Skin, Fringe, Skin, Skin, Skin},
                                                4, 2, 0, GreenChannel, 40, 20));
}

TEST_F(TgaSaverTest, WritesTopDownAndRightToLeftSourcesBottomUpWithDescriptorZero) {
  const std::vector<Pixel32> stored = {Backdrop, Skin, Fringe, Skin, Fringe, Backdrop,
                                       Fringe, Fringe, Skin};  // 3 x 3, top row first
  ASSERT_TRUE(save(write(TgaBytes(3, 3).descriptor(0x20).pixels(stored))));
  EXPECT_EQ(readFileBytes(output),
            expectedFile({Fringe, Fringe, Skin, Skin, Fringe, Backdrop, Backdrop, Skin, Fringe}, 3, 3, 0,
                         GreenChannel, 0, 0));
  ASSERT_TRUE(save(write(TgaBytes(3, 3).descriptor(0x30).rle().rawPacket({Backdrop, Skin, Fringe, Skin, Fringe, Backdrop, Fringe, Fringe, Skin}))));
  EXPECT_EQ(readFileBytes(output),
            expectedFile({Skin, Fringe, Fringe, Backdrop, Fringe, Skin, Fringe, Skin, Backdrop}, 3, 3, 0,
                         GreenChannel, 0, 0));
}

TEST_F(TgaSaverTest, WritesLargePicturesInTheSameOrderAcrossChunks) {
  // Tall enough that the writer works in several chunks, top-down so the
  // chunks land back to front.
  const std::uint16_t width = 1000, height = 700;
  std::vector<Pixel32> stored(std::size_t{width} * height);
  for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<Pixel32>(i * 2654435761u) & 0xFFFFFFu;
  ASSERT_TRUE(save(write(TgaBytes(width, height).descriptor(0x20).pixels(stored)), RedChannel, 12, 34));
  std::vector<Pixel32> bottomUp;
  for (std::size_t row = height; row-- > 0;) {
    bottomUp.insert(bottomUp.end(), stored.begin() + static_cast<std::ptrdiff_t>(row * width),
                    stored.begin() + static_cast<std::ptrdiff_t>((row + 1) * width));
  }
  EXPECT_TRUE(readFileBytes(output) == expectedFile(bottomUp, width, height, 0, RedChannel, 12, 34));
}

TEST_F(TgaSaverTest, AnEmptySourceGivesAHeaderOnlyFile) {
  ASSERT_TRUE(save(write(TgaBytes(0, 0))));
  EXPECT_EQ(readFileBytes(output).size(), 18u);
}

TEST_F(TgaSaverTest, OutputReadsBackWithTheSameSizeAndColours) {
  ASSERT_TRUE(save(write(TgaBytes(3, 2).pixels({Backdrop, Skin, Fringe, Fringe, Skin, Backdrop})), GreenChannel, 0, 0));
  TgaLoader reread;
  ASSERT_TRUE(reread.load(output.c_str()));
  EXPECT_EQ(reread.width, 3);
  EXPECT_EQ(reread.height, 2);
  EXPECT_EQ(reread.bitsPerPixel, 32);
  Pixel32 skin = Skin;
  keyPixel(skin, GreenChannel);
  EXPECT_EQ(reread.pixels[1], skin & 0x00FFFFFFu);  // the reader drops the alpha it holds
}

TEST_F(TgaSaverTest, SavesOntoTheSourcesOwnPath) {
  const std::string source = write(TgaBytes(3, 1).pixels({Backdrop, Skin, Fringe}));
  output = source;
  ASSERT_TRUE(save(source));
  EXPECT_EQ(readFileBytes(source), expectedFile({Backdrop, Skin, Fringe}, 3, 1, 0, GreenChannel, 0, 0));
}

TEST_F(TgaSaverTest, AnUnreadableSourceCreatesNothingAndKeepsAnExistingTarget) {
  EXPECT_FALSE(save(dir.file("deleted since it was opened.tga")));
  EXPECT_EQ(saver.error(), SaveError::SourceUnreadable);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_FALSE(save(""));  // Save As before any Open

  const Bytes previous = {1, 2, 3};
  std::ofstream(output, std::ios::binary).write("\1\2\3", 3);
  EXPECT_FALSE(save(write(TgaBytes(1, 1).type(3).pixels({Skin}))));
  EXPECT_EQ(saver.describeError(), "not a true-colour Targa file (image type 3)");
  EXPECT_EQ(readFileBytes(output), previous);
}

TEST_F(TgaSaverTest, AnOutputThatCannotBeCreatedFailsAndLeavesNoPartialFile) {
  const std::string source = write(TgaBytes(1, 1).pixels({Skin}));
  output = dir.file("no such folder/keyed.tga");
  EXPECT_FALSE(save(source));
  EXPECT_EQ(saver.error(), SaveError::CannotCreateOutput);
  output = dir.path().string();  // a folder
  EXPECT_FALSE(save(source));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // the source alone
}

TEST_F(TgaSaverTest, ReportsATruncatedSourceAndStillSaves) {
  ASSERT_TRUE(save(write(TgaBytes(3, 1).pixels({Skin}))));
  EXPECT_TRUE(saver.sourceTruncated());
  EXPECT_EQ(readFileBytes(output), expectedFile({Skin, 0, 0}, 3, 1, 0, GreenChannel, 0, 0));
}

}  // namespace
}  // namespace Kvl

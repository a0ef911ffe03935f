#include <gtest/gtest.h>

#include "support/TgaBytes.h"
#include "imageio/ImageLoader.h"

namespace Kvl {
namespace {

using Test::TempDir;
using Test::TgaBytes;

// B, G and R all differ, so a channel swap fails.
constexpr Pixel32 P1 = makePixel(0x30, 0x20, 0x10);
constexpr Pixel32 P2 = makePixel(0x31, 0x21, 0x11);
constexpr Pixel32 P3 = makePixel(0x32, 0x22, 0x12);
constexpr Pixel32 P4 = makePixel(0x33, 0x23, 0x13);
constexpr Pixel32 P5 = makePixel(0x34, 0x24, 0x14);
constexpr Pixel32 P6 = makePixel(0x35, 0x25, 0x15);


std::unique_ptr<TgaLoader> load(const std::vector<std::uint8_t>& bytes, bool expectOk = true) {
  auto loader = std::make_unique<TgaLoader>();
  MemoryByteSource source(bytes);
  EXPECT_EQ(loader->loadFrom(source), expectOk);
  return loader;
}

std::vector<Pixel32> pixelsOf(const TgaLoader& loader) {
  return {loader.pixels.get(), loader.pixels.get() + std::size_t(loader.width) * std::size_t(loader.height)};
}

TEST(TgaLoader, ReadsUncompressed24BitPixelsAsBlueGreenRed) {
  const auto loader = load(TgaBytes(3, 2).raw({0x10, 0x20, 0x30}).pixels({P2, P3, P4, P5, P6}).bytes());
  ASSERT_TRUE(loader->pixels);
  EXPECT_EQ(loader->width, 3);
  EXPECT_EQ(loader->height, 2);
  EXPECT_EQ(loader->bitsPerPixel, 24);
  EXPECT_EQ(loader->imageType, 2);
  EXPECT_EQ(pixelsOf(*loader), (std::vector<Pixel32>{makePixel(0x30, 0x20, 0x10), P2, P3, P4, P5, P6}));
  EXPECT_FALSE(loader->truncated());
}

TEST(TgaLoader, Drops32BitFileAlpha) {
  const auto loader = load(TgaBytes(2, 1, 32).pixels({P1, P2}, 0x80).bytes());
  ASSERT_TRUE(loader->pixels);
  EXPECT_EQ(pixelsOf(*loader), (std::vector<Pixel32>{P1, P2}));
}

TEST(TgaLoader, DecodesRunLengthPacketsAcrossRowEnds) {
  // 4 x 2: a raw pixel, then a run of 5 that starts 3 before the row end
  // and fills the first 2 of the next row, then a single-pixel raw packet
  // and a single-pixel run to finish.
  const auto loader = load(TgaBytes(4, 2).rle().rawPacket({P1}).runPacket(5, P2).rawPacket({P3}).runPacket(1, P4).bytes());
  ASSERT_TRUE(loader->pixels);
  EXPECT_EQ(pixelsOf(*loader), (std::vector<Pixel32>{P1, P2, P2, P2, P2, P2, P3, P4}));
  EXPECT_FALSE(loader->truncated());
}

TEST(TgaLoader, DecodesRunLengthAt32BitsAndOnePixelPictures) {
  EXPECT_EQ(pixelsOf(*load(TgaBytes(1, 1, 32).rle().runPacket(1, P5).bytes())), std::vector<Pixel32>{P5});
  EXPECT_EQ(pixelsOf(*load(TgaBytes(3, 1, 32).rle().rawPacket({P1, P2, P3}).bytes())),
            (std::vector<Pixel32>{P1, P2, P3}));
}

TEST(TgaLoader, DropsTheSurplusOfAPacketThatOverrunsThePicture) {
  const auto loader = load(TgaBytes(2, 1).rle().runPacket(128, P1).bytes());
  EXPECT_EQ(pixelsOf(*loader), (std::vector<Pixel32>{P1, P1}));
  const auto raw = load(TgaBytes(2, 1).rle().rawPacket({P1, P2, P3, P4}).bytes());
  EXPECT_EQ(pixelsOf(*raw), (std::vector<Pixel32>{P1, P2}));
}

TEST(TgaLoader, HandsOverRowsBottomUpAndLeftToRightWhateverTheOrigin) {
  // Stored top row first: P1 P2 P3 / P4 P5 P6.
  const auto topDown = load(TgaBytes(3, 2).descriptor(0x20).pixels({P1, P2, P3, P4, P5, P6}).bytes());
  EXPECT_EQ(pixelsOf(*topDown), (std::vector<Pixel32>{P4, P5, P6, P1, P2, P3}));
  const auto rightToLeft = load(TgaBytes(3, 2).descriptor(0x10).pixels({P1, P2, P3, P4, P5, P6}).bytes());
  EXPECT_EQ(pixelsOf(*rightToLeft), (std::vector<Pixel32>{P3, P2, P1, P6, P5, P4}));
  const auto both = load(TgaBytes(3, 2).descriptor(0x30).rle().rawPacket({P1, P2, P3, P4, P5, P6}).bytes());
  EXPECT_EQ(pixelsOf(*both), (std::vector<Pixel32>{P6, P5, P4, P3, P2, P1}));
  // A lower-left file keeps its stored order; attribute bits change nothing.
  const auto usual = load(TgaBytes(3, 2).descriptor(0x08).pixels({P1, P2, P3, P4, P5, P6}).bytes());
  EXPECT_EQ(pixelsOf(*usual), (std::vector<Pixel32>{P1, P2, P3, P4, P5, P6}));
}

TEST(TgaLoader, SkipsTheImageIdAndAnyColourMap) {
  const auto withId = load(TgaBytes(2, 1).id(std::vector<std::uint8_t>(200, 0x55)).pixels({P1, P2}).bytes());
  EXPECT_EQ(withId->idLength, 200);
  EXPECT_EQ(pixelsOf(*withId), (std::vector<Pixel32>{P1, P2}));
  // 3 entries of 15 bits take two bytes each; 5 of 24 bits take three.
  EXPECT_EQ(pixelsOf(*load(TgaBytes(2, 1).colourMap(3, 15).pixels({P1, P2}).bytes())),
            (std::vector<Pixel32>{P1, P2}));
  EXPECT_EQ(pixelsOf(*load(TgaBytes(2, 1).id({1, 2}).colourMap(5, 24).rle().runPacket(2, P3).bytes())),
            (std::vector<Pixel32>{P3, P3}));
}

TEST(TgaLoader, RefusesOtherTypesAndDepthsWithTheReason) {
  for (std::uint8_t type : {0, 1, 3, 9, 11, 4, 255}) {
    const auto loader = load(TgaBytes(1, 1).type(type).pixels({P1}).bytes(), false);
    EXPECT_EQ(loader->error(), LoadError::TypeRefused) << int{type};
    EXPECT_FALSE(loader->pixels);
  }
  const auto sixteen = load(TgaBytes(1, 1, 16).raw({1, 2}).bytes(), false);
  EXPECT_EQ(sixteen->error(), LoadError::DepthRefused);
  EXPECT_EQ(describe(targaError(sixteen->error(), sixteen->header())), "unsupported pixel depth 16");
  const auto colourMapped = load(TgaBytes(1, 1).type(1).bytes(), false);
  EXPECT_EQ(describe(targaError(colourMapped->error(), colourMapped->header())),
            "not a true-colour Targa file (image type 1)");
}

TEST(TgaLoader, RefusesBitmapFilesAndFilesTooShortForAHeader) {
  // "BM", a file size whose low byte is 10 (passes the type test), then a
  // header-size field whose byte 16 is 0 and fails the depth test.
  std::vector<std::uint8_t> bitmap = {'B', 'M', 10, 1, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0};
  bitmap.resize(266, 0);
  EXPECT_EQ(load(bitmap, false)->error(), LoadError::DepthRefused);
  bitmap[2] = 0x36;
  EXPECT_EQ(load(bitmap, false)->error(), LoadError::TypeRefused);

  EXPECT_EQ(load({}, false)->error(), LoadError::TooShort);
  auto sixteenBytes = TgaBytes(1, 1).bytes();
  sixteenBytes.resize(16);
  EXPECT_EQ(load(sixteenBytes, false)->error(), LoadError::TooShort);
}

TEST(TgaLoader, FailsOnMissingFilesAndEmptyPaths) {
  TgaLoader missing;
  EXPECT_FALSE(missing.load("/nonexistent/keyvale/picture.tga"));
  EXPECT_EQ(missing.error(), LoadError::CannotOpen);
  TgaLoader empty;
  EXPECT_FALSE(empty.load(""));
  EXPECT_FALSE(empty.pixels);
}

TEST(TgaLoader, LoadsAnEmptyPicture) {
  const auto loader = load(TgaBytes(0, 0).bytes());
  EXPECT_EQ(loader->width, 0);
  EXPECT_EQ(loader->height, 0);
  EXPECT_FALSE(loader->truncated());
}

TEST(TgaLoader, ZeroFillsAndFlagsATruncatedFile) {
  const auto raw = load(TgaBytes(3, 1).pixels({P1}).raw({0x10, 0x20}).bytes());  // 1.67 pixels
  EXPECT_EQ(pixelsOf(*raw), (std::vector<Pixel32>{P1, 0, 0}));
  EXPECT_TRUE(raw->truncated());
  const auto packets = load(TgaBytes(4, 1).rle().runPacket(2, P2).raw({0x81}).bytes());
  EXPECT_EQ(pixelsOf(*packets), (std::vector<Pixel32>{P2, P2, 0, 0}));
  EXPECT_TRUE(packets->truncated());
  // The file ends inside the image ID: still a load, all pixels black.
  auto shortId = TgaBytes(2, 1).id(std::vector<std::uint8_t>(50, 1)).bytes();
  shortId.resize(30);
  EXPECT_EQ(pixelsOf(*load(shortId)), (std::vector<Pixel32>{0, 0}));
}

TEST(TgaLoader, HoldsWidthsBeyondSignedSixteenBits) {
  const auto loader = load(TgaBytes(40000, 1).rle().runPacket(128, P1).bytes());
  EXPECT_EQ(loader->width, 40000);
  ASSERT_TRUE(loader->pixels);
  EXPECT_EQ(loader->pixels[127], P1);
  EXPECT_EQ(loader->pixels[39999], 0u);
}

TEST(TgaLoader, ReadsFromAPath) {
  TempDir dir;
  const std::string path = TgaBytes(2, 1).pixels({P1, P2}).writeTo(dir.path() / "two pixels.tga");
  TgaLoader loader;
  ASSERT_TRUE(loader.load(path.c_str()));
  EXPECT_EQ(pixelsOf(loader), (std::vector<Pixel32>{P1, P2}));
}

}  // namespace
}  // namespace Kvl

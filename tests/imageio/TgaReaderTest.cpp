// The one Targa reader: rows in the file's own vertical order, each left to
// right, for every origin, depth and encoding; truncation and refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "imageio/TgaReader.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::TgaBytes;

constexpr std::uint16_t Width = 3, Height = 2;
// The picture upright, bottom row first. B, G and R all differ, so a
// channel swap fails; rows and columns differ, so a flip fails.
const std::vector<std::vector<Pixel32>> Upright = {
    {makePixel(0x30, 0x20, 0x10), makePixel(0x31, 0x21, 0x11), makePixel(0x32, 0x22, 0x12)},
    {makePixel(0x33, 0x23, 0x13), makePixel(0x34, 0x24, 0x14), makePixel(0x35, 0x25, 0x15)}};

// The pixels in the order a file with `descriptor` stores them, built from
// the upright picture independently of the reader.
std::vector<Pixel32> storedOrder(std::uint8_t descriptor) {
  std::vector<Pixel32> stored;
  for (std::size_t i = 0; i < Height; ++i) {
    std::vector<Pixel32> row = Upright[(descriptor & 0x20) != 0 ? Height - 1 - i : i];
    if ((descriptor & 0x10) != 0) std::reverse(row.begin(), row.end());
    stored.insert(stored.end(), row.begin(), row.end());
  }
  return stored;
}

std::vector<std::uint8_t> fileFor(std::uint8_t descriptor, std::uint8_t depth, bool runLength) {
  const std::vector<Pixel32> stored = storedOrder(descriptor);
  TgaBytes bytes(Width, Height, depth);
  bytes.descriptor(descriptor).id({7, 7});
  if (!runLength) return bytes.pixels(stored).bytes();
  // A run of the first pixel, then the rest raw: packets cross the row end.
  return bytes.rle().runPacket(1, stored[0]).rawPacket({stored[1], stored[2], stored[3], stored[4], stored[5]}).bytes();
}

TEST(TgaReader, HandsOutRowsInTheFilesOrderUnmirroredForEveryOriginDepthAndEncoding) {
  for (const std::uint8_t descriptor : {0x00, 0x10, 0x20, 0x30}) {
    for (const std::uint8_t depth : {24, 32}) {
      for (const bool runLength : {false, true}) {
        const std::vector<std::uint8_t> file = fileFor(descriptor, depth, runLength);
        const std::string what = "descriptor " + std::to_string(descriptor) + ", " + std::to_string(depth) +
                                 " bits" + (runLength ? ", run-length" : "");
        MemoryByteSource source(file);
        TgaReader reader;
        ASSERT_TRUE(reader.open(source)) << what;
        EXPECT_EQ(reader.width(), Width);
        EXPECT_EQ(reader.height(), Height);
        EXPECT_EQ(reader.idLength(), 2);
        const bool topDown = (descriptor & 0x20) != 0;
        EXPECT_EQ(reader.rowOrder(), topDown ? RowOrder::TopDown : RowOrder::BottomUp) << what;
        for (std::size_t i = 0; i < Height; ++i) {
          std::vector<Pixel32> row(Width);
          reader.readRows(row.data(), 1);
          EXPECT_EQ(row, Upright[topDown ? Height - 1 - i : i]) << what << ", row " << i;
        }
        EXPECT_FALSE(reader.damaged()) << what;
      }
    }
  }
}

TEST(TgaReader, SkippedRowsAreSteppedOverAndATruncatedFileReadsBlackAndDamaged) {
  for (const bool runLength : {false, true}) {
    std::vector<std::uint8_t> file = fileFor(0x00, 24, runLength);
    MemoryByteSource whole(file);
    TgaReader skipping;
    ASSERT_TRUE(skipping.open(whole));
    skipping.skipRows(1);
    std::vector<Pixel32> row(Width);
    skipping.readRows(row.data(), 1);
    EXPECT_EQ(row, Upright[1]);
    EXPECT_FALSE(skipping.damaged());

    file.resize(file.size() - 4);  // the last pixel and a byte of the one before are missing
    MemoryByteSource cut(file);
    TgaReader reader;
    ASSERT_TRUE(reader.open(cut));
    std::vector<Pixel32> rows(std::size_t{Width} * Height);
    reader.readRows(rows.data(), Height);
    EXPECT_EQ(rows, (std::vector<Pixel32>{Upright[0][0], Upright[0][1], Upright[0][2], Upright[1][0], 0, 0}));
    EXPECT_TRUE(reader.damaged());

    MemoryByteSource cutAgain(file);
    TgaReader skipper;
    ASSERT_TRUE(skipper.open(cutAgain));
    skipper.skipRows(Height);  // a file that ends among skipped rows is noticed too
    EXPECT_TRUE(skipper.damaged());
  }
}

TEST(TgaReader, RefusesWithTheReasonAndItsWords) {
  const struct {
    std::vector<std::uint8_t> file;
    LoadError reason;
    const char* words;
  } cases[] = {
      {std::vector<std::uint8_t>(16, 0), LoadError::TooShort, "too short to be a Targa file"},
      {TgaBytes(2, 2).type(1).bytes(), LoadError::TypeRefused, "not a true-colour Targa file (image type 1)"},
      {TgaBytes(2, 2, 16).bytes(), LoadError::DepthRefused, "unsupported pixel depth 16"},
      {TgaBytes(8192, 8192).pixels({Upright[0][0]}).bytes(), LoadError::TooLittleData,
       "file holds far too little pixel data for its declared size (8192 x 8192)"},
  };
  for (const auto& refused : cases) {
    MemoryByteSource source(refused.file);
    TgaReader reader;
    EXPECT_FALSE(reader.open(source)) << refused.words;
    EXPECT_EQ(reader.error(), refused.reason) << refused.words;
    EXPECT_EQ(describe(reader.failure()), refused.words);
  }
  TgaReader missing;
  EXPECT_FALSE(missing.open(""));
  EXPECT_EQ(describe(missing.failure()), "cannot open for reading");
}

TEST(TgaReader, RewindsAFileButNotBytesInHand) {
  Kvl::Test::TempDir dir;
  const std::string path = dir.file("picture.tga");
  const std::vector<std::uint8_t> bytes = fileFor(0x20, 32, true);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  TgaReader reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  std::vector<Pixel32> first(Width), again(Width);
  reader.readRows(first.data(), 1);
  reader.skipRows(1);
  ASSERT_TRUE(reader.rewind());
  reader.readRows(again.data(), 1);
  EXPECT_EQ(again, first);

  const std::vector<std::uint8_t> file = fileFor(0x00, 24, false);
  MemoryByteSource source(file);
  TgaReader inHand;
  ASSERT_TRUE(inHand.open(source));
  EXPECT_FALSE(inHand.rewind());
}

}  // namespace
}  // namespace Kvl

// The PNG writer's per-row filter choice: rows built so that each of the
// five filters wins once, read back through libpng pixel for pixel, and the
// type bytes in the inflated data saying which filter each row took.
// Native builds only.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/CodecFiles.h"
#include "support/TgaBytes.h"

#include "imageio/PictureFiles.h"
#include "imageio/PictureSink.h"

#if KEYVALE_HAVE_PNG
#include <zlib.h>

namespace Kvl::Test {
namespace {

constexpr std::size_t Width = 16;
using Row = std::vector<std::uint8_t>;  // RGBA bytes

// Top row first, smooth enough that filtering pays. Each row is built against the one above so that one
// filter leaves (nearly) nothing: the top row a ramp (Sub, which Paeth
// ties there), a copy of it (Up, tied by Paeth), the running average of
// left and above (Average), a left half copied from above beside a flat
// right half (Paeth, switching from above to left), and pixels of 0x00 and
// 0xff in turn (None, whose bytes read as signed are 0 and -1). Channels
// differ, so that a swapped channel shows.
std::vector<Row> rowsFavouringEachFilter() {
  Row ramp(Width * 4), average(Width * 4), halves(Width * 4), alternate(Width * 4);
  for (std::size_t i = 0; i < ramp.size(); ++i) {
    ramp[i] = static_cast<std::uint8_t>(40 + 9 * (i / 4) + 13 * (i % 4));
    average[i] = static_cast<std::uint8_t>(((i >= 4 ? average[i - 4] : 0) + ramp[i]) >> 1);
    halves[i] = i < Width * 2 ? average[i] : static_cast<std::uint8_t>(0x10 + i % 4);
    alternate[i] = (i / 4) % 2 == 0 ? 0x00 : 0xff;
  }
  return {ramp, ramp, average, halves, alternate};
}

// Writes top-down RGBA rows through the writer at `level`; rows go in
// bottom-up, as the key hands them over.
void writeThroughSink(const std::string& path, const std::vector<Row>& rows, std::size_t width, int level) {
  const std::unique_ptr<PictureSink> sink = makePngSink(level);
  ASSERT_TRUE(sink);
  ASSERT_TRUE(sink->open(path, width, rows.size(), RowOrder::BottomUp));
  for (std::size_t fromBottom = 0; fromBottom < rows.size(); ++fromBottom) {
    const Row& row = rows[rows.size() - 1 - fromBottom];
    std::vector<Pixel32> pixels;
    for (std::size_t x = 0; x < width; ++x) {
      pixels.push_back(makePixel(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]));
    }
    sink->writeRows(fromBottom, pixels.data(), 1);
  }
  ASSERT_TRUE(sink->commit());
}

std::uint32_t be32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
         bytes[at + 3];
}

// The filter type byte of each row, from the file's IDAT data inflated.
std::vector<int> filterTypes(const std::string& path, std::size_t width, std::size_t height) {
  const std::vector<std::uint8_t> file = readFileBytes(path);
  std::vector<std::uint8_t> deflated;
  for (std::size_t at = 8; at + 12 <= file.size(); at += 12 + be32(file, at)) {
    if (std::string(file.begin() + static_cast<std::ptrdiff_t>(at + 4), file.begin() + static_cast<std::ptrdiff_t>(at + 8)) == "IDAT") {
      deflated.insert(deflated.end(), file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 8 + be32(file, at)));
    }
  }
  const std::size_t rowBytes = 1 + width * 4;
  std::vector<std::uint8_t> filtered(height * rowBytes);
  uLongf size = static_cast<uLongf>(filtered.size());
  EXPECT_EQ(uncompress(filtered.data(), &size, deflated.data(), static_cast<uLong>(deflated.size())), Z_OK);
  EXPECT_EQ(size, filtered.size());
  std::vector<int> types;
  for (std::size_t row = 0; row < height; ++row) types.push_back(filtered[row * rowBytes]);
  return types;
}

void expectDecodesTo(const std::string& path, const std::vector<Row>& rows, std::size_t width) {
  const RgbaImage png = readPngRgba(path);
  ASSERT_EQ(png.width, width);
  ASSERT_EQ(png.height, rows.size());
  for (std::size_t y = 0; y < rows.size(); ++y) {
    const Row got(png.rgba.begin() + static_cast<std::ptrdiff_t>(y * width * 4),
                  png.rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * width * 4));
    EXPECT_EQ(got, rows[y]) << path << ": row " << y << " from the top";
  }
}

TEST(PngFilterChoice, EachRowTakesTheFilterThatSuitsItAndDecodesExactly) {
  TempDir dir;
  const std::vector<Row> rows = rowsFavouringEachFilter();
  for (const int level : {1, 3, 9, HighestPngLevel}) {
    const std::string path = dir.file("filters" + std::to_string(level) + ".png");
    writeThroughSink(path, rows, Width, level);
    expectDecodesTo(path, rows, Width);
    // Sub, Up, Average, Paeth, None.
    EXPECT_EQ(filterTypes(path, Width, rows.size()), (std::vector<int>{1, 2, 3, 4, 0})) << "level " << level;
  }
}

// Stored output is as large whatever the filter: its rows are left unfiltered.
TEST(PngFilterChoice, StoredOutputIsUnfilteredAndDecodesExactly) {
  TempDir dir;
  const std::vector<Row> rows = rowsFavouringEachFilter();
  writeThroughSink(dir.file("stored.png"), rows, Width, 0);
  expectDecodesTo(dir.file("stored.png"), rows, Width);
  EXPECT_EQ(filterTypes(dir.file("stored.png"), Width, rows.size()), (std::vector<int>(rows.size(), 0)));
}

// Bytes of two values at random, 100 and 200, as a dither: every filter's
// differences are smaller in sum than the bytes, so the row by row choice
// filters them all, yet the differences take three values or more where
// the bytes take two, and deflate makes the unfiltered rows smaller. The
// writer notices that from its sample of rows and filters none, as it does
// for grainy footage. The smooth rows above keep their filters (the first test).
TEST(PngFilterChoice, RowsThatDeflateSmallerUnfilteredGoUnfilteredAndDecodeExactly) {
  TempDir dir;
  constexpr std::size_t width = 200, height = 150;
  std::vector<Row> rows(height, Row(width * 4));
  std::uint32_t noise = 12345;
  for (Row& row : rows) {
    for (std::uint8_t& byte : row) {
      noise = noise * 1103515245u + 12345u;
      byte = (noise >> 16) % 2 == 0 ? 100 : 200;
    }
  }
  writeThroughSink(dir.file("dither.png"), rows, width, DefaultPngLevel);
  expectDecodesTo(dir.file("dither.png"), rows, width);
  EXPECT_EQ(filterTypes(dir.file("dither.png"), width, height), (std::vector<int>(height, 0)));
}

// One and two pixels wide, one to three rows: the first pixel, with no
// left neighbour, is all there is or most of the row.
TEST(PngFilterChoice, NarrowAndShortPicturesDecodeExactly) {
  TempDir dir;
  const std::vector<Row> tall = rowsFavouringEachFilter();
  for (const std::size_t width : {1u, 2u}) {
    for (std::size_t height = 1; height <= 3; ++height) {
      std::vector<Row> rows;
      for (std::size_t y = 0; y < height; ++y) {
        rows.emplace_back(tall[y + 2].begin(), tall[y + 2].begin() + static_cast<std::ptrdiff_t>(width * 4));
      }
      const std::string path = dir.file(std::to_string(width) + "x" + std::to_string(height) + ".png");
      writeThroughSink(path, rows, width, DefaultPngLevel);
      expectDecodesTo(path, rows, width);
    }
  }
}

}  // namespace
}  // namespace Kvl::Test
#endif

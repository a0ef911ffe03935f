// The streaming preview read (a row at a time, only the sampled rows kept)
// against the whole picture decoded, turned upright and resampled.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/KeyProcessor.h"
#include "imageio/ImageLoader.h"
#include "support/RandomTga.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Test::TgaBytes;
using Test::TgaShape;

constexpr Pixel32 Untouched = 0xFF5A5A5Au;  // no read ever produces alpha 0xFF

// A processor whose preview source starts as a marker, so that a read that
// must leave it alone can be seen to.
struct PreviewBuffers {
  std::vector<std::uint8_t> checkerboard = std::vector<std::uint8_t>(PreviewPixelCount);
  std::vector<Pixel32> source = std::vector<Pixel32>(PreviewPixelCount, Untouched);
  std::vector<Pixel32> composite = std::vector<Pixel32>(PreviewPixelCount);
  std::vector<Pixel32> matte = std::vector<Pixel32>(PreviewPixelCount);
  KeyProcessor processor{checkerboard.data(), source.data(), composite.data(), matte.data(), nullptr};
};

struct WholePictureRead {
  PreviewBuffers buffers;
  LoadError error;
  bool truncated;
};

// What Open did before it streamed: load everything, then resample.
void readWholePicture(const std::vector<std::uint8_t>& file, WholePictureRead& read) {
  MemoryByteSource source(file);
  TgaLoader loader;
  if (loader.loadFrom(source)) read.buffers.processor.resampleToPreview(loader);
  read.error = loader.error();
  read.truncated = loader.truncated();
}

void expectStreamingEqualsWholePicture(const std::vector<std::uint8_t>& file, const std::string& what) {
  WholePictureRead whole;
  readWholePicture(file, whole);
  PreviewBuffers streamed;
  MemoryByteSource source(file);
  const PreviewRead read = streamed.processor.readPreviewFrom(source);
  ASSERT_EQ(read.error, whole.error) << what;
  EXPECT_EQ(read.truncated, whole.truncated) << what;
  const auto [got, wanted] = std::mismatch(streamed.source.begin(), streamed.source.end(),
                                           whole.buffers.source.begin());
  if (got != streamed.source.end()) {
    const auto at = got - streamed.source.begin();
    FAIL() << what << ": column " << at % PreviewWidth << " row " << at / PreviewWidth << std::hex << " is "
           << *got << ", expected " << *wanted;
  }
}

TEST(StreamingPreview, EqualsTheWholePictureResampledForEverySizeOriginAndEncoding) {
  std::mt19937 rng(3);
  for (const TgaShape& shape : Kvl::Test::equivalenceShapes(rng)) {
    expectStreamingEqualsWholePicture(Kvl::Test::randomTga(rng, shape), shape.describe());
  }
}

TEST(StreamingPreview, EqualsTheWholePictureForFilesCutShortAnywhere) {
  std::mt19937 rng(4);
  for (const TgaShape& shape : {TgaShape{240, 160, 24, false, 0x00}, TgaShape{241, 161, 32, true, 0x20},
                                TgaShape{500, 7, 24, true, 0x30}, TgaShape{37, 600, 24, false, 0x10}}) {
    const std::vector<std::uint8_t> file = Kvl::Test::randomTga(rng, shape);
    for (int cut = 0; cut < 12; ++cut) {
      // Inside the header or ID too, now and then.
      const std::size_t length = cut < 2 ? 10 + rng() % 30 : rng() % file.size();
      const std::vector<std::uint8_t> shorter(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
      expectStreamingEqualsWholePicture(shorter, shape.describe() + " cut to " + std::to_string(length));
    }
    // One byte short: only the last pixel is missing, after the last row sampled.
    expectStreamingEqualsWholePicture(std::vector<std::uint8_t>(file.begin(), file.end() - 1),
                                      shape.describe() + " one byte short");
  }
}

TEST(StreamingPreview, RefusesWhatTheWholePictureReaderRefusesAndKeepsThePreview) {
  const std::vector<std::vector<std::uint8_t>> refused = {
      {},
      TgaBytes(2, 2).type(3).bytes(),
      TgaBytes(2, 2, 16).bytes(),
      std::vector<std::uint8_t>(16, 0),
      // 8192 x 8192 declared, a handful of bytes given: refused unread.
      TgaBytes(8192, 8192).pixels({makePixel(1, 2, 3)}).bytes(),
  };
  for (const auto& file : refused) {
    expectStreamingEqualsWholePicture(file, "refused file of " + std::to_string(file.size()) + " bytes");
    PreviewBuffers streamed;
    MemoryByteSource source(file);
    EXPECT_FALSE(streamed.processor.readPreviewFrom(source).ok());
    EXPECT_EQ(streamed.source[0], Untouched);
  }
}

TEST(StreamingPreview, AnEmptyPictureReadsButLeavesThePreview) {
  for (const auto& file : {TgaBytes(0, 5).bytes(), TgaBytes(5, 0).rle().bytes()}) {
    PreviewBuffers streamed;
    MemoryByteSource source(file);
    EXPECT_TRUE(streamed.processor.readPreviewFrom(source).ok());
    EXPECT_EQ(streamed.source[0], Untouched);
    EXPECT_EQ(streamed.source[PreviewPixelCount - 1], Untouched);
  }
}

// Through a real file the skipped rows are seeked over, not read; a file
// that ends inside them must still be noticed.
TEST(StreamingPreview, ReadsFromAPathSkippingRowsAndNoticesAFileEndingAmongThem) {
  Kvl::Test::TempDir dir;
  std::mt19937 rng(9);
  const std::vector<std::uint8_t> file = Kvl::Test::randomTga(rng, TgaShape{300, 900, 24, false, 0x20});
  for (const std::size_t length : {file.size(), file.size() - 1, file.size() / 2 + 1, std::size_t{18 + 900}}) {
    const std::vector<std::uint8_t> bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    const std::string path = (dir.path() / ("cut" + std::to_string(length) + ".tga")).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    WholePictureRead whole;
    readWholePicture(bytes, whole);
    PreviewBuffers streamed;
    const PreviewRead read = streamed.processor.readPreview(path.c_str());
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read.truncated, length < file.size()) << length;
    EXPECT_EQ(streamed.source, whole.buffers.source) << length;
  }
  PreviewBuffers missing;
  EXPECT_EQ(missing.processor.readPreview((dir.path() / "missing.tga").string().c_str()).error, LoadError::CannotOpen);
}

}  // namespace
}  // namespace Kvl

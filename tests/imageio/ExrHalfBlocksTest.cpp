// OpenEXR ZIP files of half samples, which imageio inflates, deflates and
// converts itself: read, they give the values the library reads; written,
// the library reads back every value given, across several blocks, a short
// last one and blocks deflate cannot shrink; a damaged block is told. The
// half conversions give Imath's values for every half and the floats
// between them, and the bytes around deflate are laid out as the files
// lay them out.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "DeepFiles.h"
#include "imageio/DeepPicture.h"
#include "support/TgaBytes.h"

#if KEYVALE_HAVE_EXR
#include <half.h>

#include "imageio/ExrZipBlocks.h"
#include "imageio/HalfRows.h"

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float halfFromBits(std::uint16_t bits) {
  Imath::half value;
  value.setBits(bits);
  return value;
}

// The first rows walk through every half there is (infinities, NaNs,
// subnormals and both zeros among them); the rest is noise, which deflate
// cannot shrink, so those blocks are stored as they are.
DeepSamples everyHalfThenNoise(std::uint32_t width, std::uint32_t height, bool alpha) {
  DeepSamples samples{width, height, alpha, {}};
  const std::size_t count = std::size_t{width} * height * (alpha ? 4 : 3);
  std::mt19937 noise(7);
  for (std::size_t i = 0; i < count; ++i) {
    const bool patterned = i < count / 3;
    samples.values.push_back(halfFromBits(static_cast<std::uint16_t>(patterned ? i * 7 % 65536 : noise())));
  }
  return samples;
}

std::vector<float> readAllValues(DeepPictureSource& source, bool alpha) {
  std::vector<PixelF> row(source.width());
  std::vector<float> values;
  for (std::uint32_t y = 0; y < source.height(); ++y) {
    source.readRows(row.data(), 1);
    for (const PixelF& p : row) {
      values.insert(values.end(), {p.red, p.green, p.blue});
      if (alpha) values.push_back(p.alpha);
      else EXPECT_EQ(p.alpha, 1.0f);
    }
  }
  return values;
}

// Bit for bit, so that NaNs compare too.
void expectSameBits(const std::vector<float>& got, const std::vector<float>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(bitsOf(got[i]), bitsOf(want[i])) << what << ", sample " << i;
}

TEST(ExrHalfBlocks, ZipFilesReadAndWriteTheLibrarysValuesOverSeveralBlocks) {
  TempDir dir;
  for (const bool alpha : {true, false}) {
    for (const bool oneLineBlocks : {false, true}) {
      // 41 rows: two blocks of 16 and a short one of 9; an odd width.
      const DeepSamples samples = everyHalfThenNoise(37, 41, alpha);
      const std::string in = dir.file("in.exr"), copy = dir.file("copy.exr");
      const std::string what = std::string(alpha ? "RGBA" : "RGB") + (oneLineBlocks ? " ZIPS" : " ZIP");
      writeExr(in, samples, true, 5, -3, oneLineBlocks);
      std::string error;
      const auto source = openDeepPicture(in, DeepFormat::Exr, error);
      ASSERT_TRUE(source) << error;
      expectSameBits(readAllValues(*source, alpha), samples.values, what + " read");
      EXPECT_FALSE(source->damaged()) << source->damage();

      ASSERT_TRUE(source->rewind());
      std::vector<PixelF> pixels(std::size_t{samples.width} * samples.height);
      source->readRows(pixels.data(), samples.height);
      const auto sink = makeDeepSink(DeepFormat::Exr, ExrCompression::Zip);
      ASSERT_TRUE(sink->open(copy, samples.width, samples.height, source->layout())) << sink->failure();
      for (std::uint32_t y = 0; y < samples.height; y += 5) {
        sink->writeRows(pixels.data() + std::size_t{y} * samples.width, std::min<std::uint32_t>(5, samples.height - y));
      }
      ASSERT_TRUE(sink->commit()) << sink->failure();
      bool half = false;
      std::string compression;
      const DeepSamples back = readExr(copy, half, compression);
      EXPECT_TRUE(half);
      EXPECT_EQ(compression, "zip");
      EXPECT_EQ(back.alpha, alpha);
      expectSameBits(back.values, samples.values, what + " written");
    }
  }
}

TEST(ExrHalfBlocks, ADamagedBlockIsToldAndTheRowsBeforeItAreRead) {
  TempDir dir;
  DeepSamples samples{64, 48, true, {}};
  for (std::size_t i = 0; i < std::size_t{64} * 48 * 4; ++i) samples.values.push_back(static_cast<float>(i % 61) / 8);
  const std::string path = dir.file("damaged.exr");
  writeExr(path, samples, true);
  // The last block's checksum and the bytes before it, zeroed.
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(fs::file_size(path) - 24));
    const char zeros[24] = {};
    file.write(zeros, sizeof zeros);
  }
  std::string error;
  const auto source = openDeepPicture(path, DeepFormat::Exr, error);
  ASSERT_TRUE(source) << error;
  const std::vector<float> values = readAllValues(*source, true);
  EXPECT_TRUE(source->damaged());
  EXPECT_FALSE(source->damage().empty());
  const std::size_t firstBlock = std::size_t{64} * 16 * 4;
  expectSameBits({values.begin(), values.begin() + static_cast<std::ptrdiff_t>(firstBlock)},
                 {samples.values.begin(), samples.values.begin() + static_cast<std::ptrdiff_t>(firstBlock)}, "first block");
  for (std::size_t i = std::size_t{64} * 32 * 4; i < values.size(); ++i) ASSERT_EQ(values[i], 0.0f) << "sample " << i;
}

// One plane of halves as the red, green, blue (and alpha) of pixels.
std::vector<float> planesToFloats(const std::vector<std::uint16_t>& plane, bool alpha) {
  std::vector<float> pixels(4 * plane.size());
  planesToPixels({plane.data(), plane.data(), plane.data(), alpha ? plane.data() : nullptr}, pixels.data(), plane.size());
  return pixels;
}

TEST(HalfRows, EveryHalfAndTheFloatsAroundAndBetweenThemConvertAsImathConvertsThem) {
  std::vector<std::uint16_t> halves(65536);
  for (std::size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<std::uint16_t>(i);
  for (const bool alpha : {true, false}) {
    const std::vector<float> pixels = planesToFloats(halves, alpha);
    for (std::size_t i = 0; i < halves.size(); ++i) {
      for (std::size_t c = 0; c < 4; ++c) {
        const float want = c < 3 || alpha ? halfFromBits(halves[i]) : 1.0f;
        ASSERT_EQ(bitsOf(pixels[4 * i + c]), bitsOf(want)) << i << " channel " << c;
      }
    }
  }

  // Each half, the floats either side of it, the tie halfway to the next
  // and either side of the tie; then what no half holds.
  std::vector<float> probes;
  const float inf = std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i + 1 < halves.size(); ++i) {
    const float value = halfFromBits(halves[i]), next = halfFromBits(halves[i + 1]);
    probes.insert(probes.end(), {value, std::nextafter(value, inf), std::nextafter(value, -inf)});
    if (std::isfinite(value) && std::isfinite(next) && (i & 0x7fff) != 0x7fff) {
      const float tie = value + (next - value) / 2;
      probes.insert(probes.end(), {tie, std::nextafter(tie, inf), std::nextafter(tie, -inf)});
    }
  }
  for (const float value : {65504.0f, 65519.0f, 65520.0f, 1e10f, std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min(), 1e-30f, 2.98023224e-8f, 2.98023259e-8f}) {
    probes.insert(probes.end(), {value, -value});
  }
  for (const std::uint32_t bits : {0x7f800001u, 0x7fc00000u, 0x7f802000u, 0xffffffffu, 0x7fbfffffu}) {
    float nan;
    std::memcpy(&nan, &bits, sizeof nan);
    probes.push_back(nan);
  }
  while (probes.size() % 4 != 0) probes.push_back(0.0f);
  // The probes as pixels, each channel into its plane.
  const std::size_t width = probes.size() / 4;
  std::vector<std::uint16_t> planes(probes.size());
  pixelsToPlanes(probes.data(), {planes.data(), planes.data() + width, planes.data() + 2 * width, planes.data() + 3 * width},
                 width);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    ASSERT_EQ(planes[(i % 4) * width + i / 4], Imath::half(probes[i]).bits()) << "float bits " << std::hex << bitsOf(probes[i]);
  }
}

TEST(ExrZipBlocks, BytesAreSortedAndDifferencedAsTheFilesHoldThemAndBack) {
  // Even bytes ahead of odd ones, each the difference from the one before
  // plus 128, wrapping.
  const std::uint8_t raw[5] = {1, 2, 3, 4, 5};
  std::uint8_t sorted[5];
  sortAndDifference(raw, sorted, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(sorted, sorted + 5), (std::vector<std::uint8_t>{1, 130, 130, 125, 130}));
  // Every length around the sixteen-byte steps, and back again.
  std::mt19937 noise(3);
  for (std::size_t size = 0; size < 70; ++size) {
    std::vector<std::uint8_t> bytes(size), packed(size), back(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(noise());
    sortAndDifference(bytes.data(), packed.data(), size);
    for (std::size_t i = 1; i < size; ++i) {
      const std::size_t at = i < (size + 1) / 2 ? 2 * i : 2 * (i - (size + 1) / 2) + 1;
      const std::size_t before = i - 1 < (size + 1) / 2 ? 2 * (i - 1) : 2 * (i - 1 - (size + 1) / 2) + 1;
      ASSERT_EQ(packed[i], static_cast<std::uint8_t>(bytes[at] - bytes[before] + 128)) << size << " " << i;
    }
    undifferenceAndUnsort(packed.data(), back.data(), size);
    ASSERT_EQ(back, bytes) << size;
  }
}

}  // namespace
}  // namespace Kvl::Test
#endif

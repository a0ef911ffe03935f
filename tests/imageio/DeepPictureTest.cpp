// Deep pictures read and written back unkeyed keep their values exactly:
// OpenEXR half and float (values above 1.0, negatives, a data window off
// the origin), 16-bit TIFF and PNG; each checked with the library itself.
// Damaged files are refused or marked with the library's reason, and an
// output that cannot be made leaves nothing behind.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "DeepFiles.h"
#include "cli/CliTestSupport.h"
#include "imageio/DeepPicture.h"
#include "support/TgaBytes.h"

#if KEYVALE_HAVE_TIFF
#include <tiff.h>
#endif

namespace Kvl::Test {
namespace {

namespace fs = std::filesystem;

// Every sample differs: channel, column and row each change it, so a swap
// or flip fails. `scale` turns the index into a value.
DeepSamples ramp(std::uint32_t width, std::uint32_t height, bool alpha, float scale, float offset = 0) {
  DeepSamples samples{width, height, alpha, {}};
  const std::size_t count = std::size_t{width} * height * (alpha ? 4 : 3);
  for (std::size_t i = 0; i < count; ++i) samples.values.push_back(offset + scale * static_cast<float>(i * 7919 % 1009));
  return samples;
}

std::vector<PixelF> readAll(DeepPictureSource& source) {
  std::vector<PixelF> pixels(std::size_t{source.width()} * source.height());
  for (std::uint32_t y = 0; y < source.height(); ++y) source.readRows(pixels.data() + std::size_t{y} * source.width(), 1);
  return pixels;
}

// The source's pixels against the samples, each sample divided by `largest`.
void expectPixels(const std::vector<PixelF>& pixels, const DeepSamples& samples, float largest) {
  const std::size_t channels = samples.alpha ? 4 : 3;
  ASSERT_EQ(pixels.size() * channels, samples.values.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const float got[4] = {pixels[i].red, pixels[i].green, pixels[i].blue, pixels[i].alpha};
    for (std::size_t c = 0; c < 4; ++c) {
      const float want = c < channels ? samples.values[i * channels + c] / largest : 1.0f;
      ASSERT_EQ(got[c], want) << "pixel " << i << " channel " << c;
    }
  }
}

// Reads `path`, checks it against `samples`, writes it back to `copy`.
void roundTrip(const std::string& path, DeepFormat format, const DeepSamples& samples, float largest,
               const std::string& copy, ExrCompression compression = ExrCompression::Zip) {
  ASSERT_EQ(sniffDeepFormat(path), format);
  std::string error;
  const auto source = openDeepPicture(path, format, error);
  ASSERT_TRUE(source) << error;
  ASSERT_EQ(source->width(), samples.width);
  ASSERT_EQ(source->height(), samples.height);
  EXPECT_EQ(source->layout().alpha, samples.alpha);
  const std::vector<PixelF> pixels = readAll(*source);
  EXPECT_FALSE(source->damaged()) << source->damage();
  expectPixels(pixels, samples, largest);
  const auto sink = makeDeepSink(format, compression);
  ASSERT_TRUE(sink);
  ASSERT_TRUE(sink->open(copy, source->width(), source->height(), source->layout())) << sink->failure();
  // In blocks of rows of differing size, as the keyer hands them.
  for (std::size_t y = 0, block = 1; y < samples.height; y += block, ++block) {
    const std::size_t rows = std::min<std::size_t>(block, samples.height - y);
    sink->writeRows(pixels.data() + y * samples.width, rows);
  }
  ASSERT_TRUE(sink->commit()) << sink->failure();
}

#if KEYVALE_HAVE_EXR
TEST(DeepPictures, ExrHalfAndFloatComeBackWithTheirValuesAboveOneAndBelowZero) {
  TempDir dir;
  for (const bool half : {true, false}) {
    for (const bool alpha : {true, false}) {
      // Half holds these exactly: multiples of 1/64 up to 1000 or so, and
      // below zero. Float gets a step half cannot hold.
      DeepSamples samples = ramp(7, 5, alpha, half ? 1.0f / 64 : 0.001f, -2.0f);
      samples.values[3] = 4096.0f;  // a highlight far above 1.0
      const std::string path = dir.file("in.exr"), copy = dir.file("copy.exr");
      writeExr(path, samples, half, half ? 10 : -3, half ? 20 : 4);
      for (const ExrCompression compression : {ExrCompression::Zip, ExrCompression::Piz}) {
        roundTrip(path, DeepFormat::Exr, samples, 1.0f, copy, compression);
        bool copyHalf = false;
        std::string copyCompression;
        const DeepSamples back = readExr(copy, copyHalf, copyCompression);
        EXPECT_EQ(copyHalf, half);
        EXPECT_EQ(copyCompression, compression == ExrCompression::Zip ? "zip" : "piz");
        EXPECT_EQ(back.alpha, alpha);
        EXPECT_EQ(back.values, samples.values) << "half " << half << " alpha " << alpha;
      }
      std::string error;
      const auto source = openDeepPicture(path, DeepFormat::Exr, error);
      ASSERT_TRUE(source);
      EXPECT_EQ(source->layout().transfer, Transfer::Linear);
      EXPECT_TRUE(source->layout().premultiplied);
      EXPECT_EQ(source->layout().samples, half ? SampleType::Half : SampleType::Float);
    }
  }
}
#endif

#if KEYVALE_HAVE_TIFF
TEST(DeepPictures, Tiff16ComesBackSampleForSampleWithItsAlphaKind) {
  TempDir dir;
  for (const bool associated : {false, true}) {
    const DeepSamples samples = ramp(6, 5, true, 65.0f);  // up to 65520, every sample its own
    writeTiff16(dir.file("in.tif"), samples, associated);
    roundTrip(dir.file("in.tif"), DeepFormat::Tiff, samples, 65535, dir.file("copy.tif"));
    std::uint16_t extra = 0;
    EXPECT_EQ(readTiff16(dir.file("copy.tif"), extra).values, samples.values);
    EXPECT_EQ(extra, associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA);
  }
  const DeepSamples opaque = ramp(3, 7, false, 64.0f);
  writeTiff16(dir.file("rgb.tif"), opaque, false);
  roundTrip(dir.file("rgb.tif"), DeepFormat::Tiff, opaque, 65535, dir.file("rgb-copy.tif"));
  std::uint16_t extra = 0;
  EXPECT_EQ(readTiff16(dir.file("rgb-copy.tif"), extra).values, opaque.values);
}
#endif

#if KEYVALE_HAVE_PNG
TEST(DeepPictures, Png16ComesBackSampleForSample) {
  TempDir dir;
  for (const bool alpha : {true, false}) {
    const DeepSamples samples = ramp(5, 6, alpha, 65.0f);
    writePng16(dir.file("in.png"), samples);
    roundTrip(dir.file("in.png"), DeepFormat::Png16, samples, 65535, dir.file("copy.png"));
    EXPECT_EQ(readPng16(dir.file("copy.png")).values, samples.values);
  }
}
#endif

#if KEYVALE_HAVE_TIFF
// A strip that decodes to fewer bytes than its rows hold: libtiff reports
// success and leaves the rest of the row buffer as it was, so a second read
// after a rewind saw the first read's last row there. Found by the fuzzer.
TEST(DeepPictures, ATiffReadsTheSameAfterARewind) {
  const std::string path = std::string(KEYVALE_FUZZ_CORPUS_DIR) + "/tiff/short-strip-read-twice.tif";
  std::string error;
  const auto source = openDeepPicture(path, DeepFormat::Tiff, error);
  ASSERT_TRUE(source) << error;
  const std::vector<PixelF> first = readAll(*source);
  ASSERT_TRUE(source->rewind());
  const std::vector<PixelF> second = readAll(*source);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(PixelF)), 0);
}
#endif

TEST(DeepPictures, DamagedFilesAreRefusedWithTheirReasonAndNothingIsLeftHalfWritten) {
  TempDir dir;
  const auto truncated = [&](const std::string& path, std::size_t keep) {
    std::vector<std::uint8_t> bytes = readFileBytes(path);
    bytes.resize(std::min(bytes.size(), keep));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  // Refused at open, or read with the damage marked and told.
  const auto expectRefusedOrDamaged = [&](const std::string& path, DeepFormat format) {
    std::string error;
    const auto source = openDeepPicture(path, format, error);
    if (!source) {
      EXPECT_FALSE(error.empty()) << path;
      return;
    }
    readAll(*source);
    EXPECT_TRUE(source->damaged()) << path;
    EXPECT_FALSE(source->damage().empty()) << path;
  };
#if KEYVALE_HAVE_EXR
  writeExr(dir.file("cut.exr"), ramp(64, 64, true, 0.01f), true);
  truncated(dir.file("cut.exr"), fs::file_size(dir.file("cut.exr")) / 2);
  expectRefusedOrDamaged(dir.file("cut.exr"), DeepFormat::Exr);
  truncated(dir.file("cut.exr"), 40);
  expectRefusedOrDamaged(dir.file("cut.exr"), DeepFormat::Exr);
#endif
#if KEYVALE_HAVE_TIFF
  writeTiff16(dir.file("cut.tif"), ramp(64, 64, true, 60.0f), false);
  truncated(dir.file("cut.tif"), fs::file_size(dir.file("cut.tif")) / 3);
  expectRefusedOrDamaged(dir.file("cut.tif"), DeepFormat::Tiff);
  truncated(dir.file("cut.tif"), 12);
  expectRefusedOrDamaged(dir.file("cut.tif"), DeepFormat::Tiff);
#endif
  for (const DeepFormat format : {DeepFormat::Png16, DeepFormat::Tiff, DeepFormat::Exr}) {
    const auto sink = makeDeepSink(format);
    if (!sink) continue;
    EXPECT_FALSE(sink->open(dir.file("missing/out"), 4, 4, DeepLayout{}));
    EXPECT_FALSE(sink->failure().empty());
    // Opened, then abandoned part-way: the target never appears.
    const auto partial = makeDeepSink(format);
    ASSERT_TRUE(partial->open(dir.file("partial"), 4, 4, DeepLayout{}));
    const std::vector<PixelF> row(4, PixelF{0.5f, 0.25f, 0.125f, 1});
    partial->writeRows(row.data(), 1);
    EXPECT_FALSE(partial->commit());
    EXPECT_FALSE(fs::exists(dir.file("partial"))) << deepFormatName(format);
  }
  EXPECT_TRUE(leftoverPartials(dir.path()).empty());
}

}  // namespace
}  // namespace Kvl::Test

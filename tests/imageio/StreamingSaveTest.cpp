// The streaming keyed writer (decode, key, level and write ~1 MiB of rows
// at a time) against the whole picture loaded, turned upright, keyed pixel
// by pixel and written in one piece.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <vector>

#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "support/RandomTga.h"
#include "support/ReferenceKey.h"
#include "support/TgaBytes.h"

namespace Kvl {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Test::TgaShape;

struct KeySettings {
  KeyChannel channel;
  std::uint8_t contrast;
  std::uint8_t offset;
};

// The output file as a whole-picture writer makes it, or nothing when the
// whole-picture reader refuses the source.
bool wholePictureOutput(const Bytes& source, const KeySettings& settings, Bytes& out) {
  MemoryByteSource bytes(source);
  TgaLoader loader;
  if (!loader.loadFrom(bytes)) return false;
  out.assign(TgaHeaderSize, 0);
  buildKeyedTgaHeader(out.data(), loader.idLength, static_cast<std::uint16_t>(loader.width),
                      static_cast<std::uint16_t>(loader.height));
  out.insert(out.end(), loader.idLength, 0);
  const std::size_t count = std::size_t(loader.width) * std::size_t(loader.height);
  for (std::size_t i = 0; i < count; ++i) {
    const Pixel32 keyed =
        Kvl::Test::referenceKeyAndLevel(loader.pixels[i], settings.channel, settings.contrast, settings.offset);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(keyed >> shift));
  }
  return true;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class StreamingSaveTest : public ::testing::Test {
protected:
  // Saves `source` from a file to `outputName` (the source itself when the
  // names agree) and compares the result with the whole-picture output.
  void expectSaveEqualsWholePicture(const Bytes& source, const KeySettings& settings, const std::string& what,
                                    const char* outputName = "keyed.tga") {
    const std::string sourcePath = dir.file("source.tga");
    const std::string outputPath = dir.file(outputName);
    writeBytes(sourcePath, source);
    Bytes expected;
    const bool readable = wholePictureOutput(source, settings, expected);
    TgaSaver saver;
    ASSERT_EQ(saver.save(outputPath.c_str(), sourcePath.c_str(), settings.channel, settings.contrast, settings.offset),
              readable)
        << what;
    if (!readable) return;
    const Bytes written = Kvl::Test::readFileBytes(outputPath);
    ASSERT_EQ(written.size(), expected.size()) << what;
    const auto [got, wanted] = std::mismatch(written.begin(), written.end(), expected.begin());
    if (got != written.end()) {
      const auto at = static_cast<std::size_t>(got - written.begin());
      FAIL() << what << ": byte " << at << " is " << int{*got} << ", expected " << int{*wanted};
    }
  }

  KeySettings randomSettings() {
    return {static_cast<KeyChannel>(rng() % 3), static_cast<std::uint8_t>(rng() % 128),
            static_cast<std::uint8_t>(rng() % 128)};
  }

  Kvl::Test::TempDir dir;
  std::mt19937 rng{21};
};

TEST_F(StreamingSaveTest, EqualsTheWholePictureKeyedForEverySizeOriginAndEncoding) {
  for (const TgaShape& shape : Kvl::Test::equivalenceShapes(rng)) {
    expectSaveEqualsWholePicture(Kvl::Test::randomTga(rng, shape), randomSettings(), shape.describe());
  }
}

// More than one 1 MiB chunk of rows, in every orientation: a top-to-bottom
// file writes its chunks from the end of the output backwards.
TEST_F(StreamingSaveTest, EqualsTheWholePictureAcrossChunksInEveryOrientation) {
  for (const std::uint8_t descriptor : {0x00, 0x10, 0x20, 0x30}) {
    const TgaShape shape{613, 509, 24, descriptor == 0x20, descriptor};  // 312017 pixels, rows not in step with chunks
    expectSaveEqualsWholePicture(Kvl::Test::randomTga(rng, shape), randomSettings(), shape.describe());
  }
}

TEST_F(StreamingSaveTest, EqualsTheWholePictureForFilesCutShortAnywhere) {
  for (const TgaShape& shape : {TgaShape{240, 160, 24, false, 0x00}, TgaShape{241, 161, 32, true, 0x20},
                                TgaShape{500, 7, 24, true, 0x30}}) {
    const Bytes file = Kvl::Test::randomTga(rng, shape);
    for (int cut = 0; cut < 6; ++cut) {
      const std::size_t length = cut == 0 ? 12 : rng() % file.size();
      expectSaveEqualsWholePicture(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)),
                                   randomSettings(), shape.describe() + " cut to " + std::to_string(length));
    }
  }
}

TEST_F(StreamingSaveTest, SavingOntoTheSourceItselfEqualsTheWholePicture) {
  const TgaShape shape{700, 400, 32, true, 0x30};  // two chunks, written backwards and mirrored
  expectSaveEqualsWholePicture(Kvl::Test::randomTga(rng, shape), {BlueChannel, 30, 10}, shape.describe(), "source.tga");
}

}  // namespace
}  // namespace Kvl

// Any bytes as a source file through the keyed writer, then back through the
// reader. The writer must accept exactly the files the reader accepts, and
// what it writes must be the reader's picture keyed and levelled pixel for
// pixel: a 32-bit, type 2 file of the same width, height and ID length. The
// preview's sampling is tried on the same picture on the way.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "FuzzScratch.h"
#include "LargePictures.h"
#include "keying/Key.h"
#include "engine/KeyProcessor.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "imageio/PictureSink.h"

namespace {

struct Settings {
  Kvl::KeyChannel channel;
  std::uint8_t contrast;
  std::uint8_t offset;
};

// Taken from the bytes as a whole, so every file is tried with some
// setting without giving up any of its bytes to choose it.
Settings settingsFor(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum = sum * 31u + data[i];
  return {static_cast<Kvl::KeyChannel>(sum % 3u), static_cast<std::uint8_t>(sum >> 8),
          static_cast<std::uint8_t>(sum >> 16)};
}

std::vector<std::uint8_t> readWholeFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  std::uint8_t block[65536];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
    bytes.insert(bytes.end(), block, block + got);
  }
  std::fclose(file);
  return bytes;
}

// The file the writer must have made from the reader's picture.
std::vector<std::uint8_t> expectedOutput(const Kvl::TgaLoader& source, const Settings& settings) {
  std::vector<std::uint8_t> bytes(Kvl::TgaHeaderSize + source.idLength, 0);
  Kvl::buildKeyedTgaHeader(bytes.data(), source.idLength, static_cast<std::uint16_t>(source.width),
                           static_cast<std::uint16_t>(source.height));
  const std::size_t count = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
  std::vector<Kvl::Pixel32> keyed(source.pixels.get(), source.pixels.get() + count);
  // One table for the picture: applyLevels builds one per call.
  Kvl::keyAndLevel(keyed.data(), count, settings.channel, Kvl::levelTable(settings.contrast, settings.offset));
  const std::size_t headerBytes = bytes.size();
  bytes.resize(headerBytes + count * sizeof(Kvl::Pixel32));
  if (count > 0) std::memcpy(bytes.data() + headerBytes, keyed.data(), count * sizeof(Kvl::Pixel32));
  return bytes;
}

// The preview's nearest-neighbour sampling at its four corners: the last
// column and row take the largest fractions, where an index could overrun.
void samplePreviewCorners(const Kvl::TgaLoader& picture) {
  if (picture.width <= 0 || picture.height <= 0) return;
  const auto lastX = static_cast<float>(static_cast<double>(Kvl::PreviewWidth - 1) / Kvl::PreviewWidth);
  const auto lastY = static_cast<float>(static_cast<double>(Kvl::PreviewHeight - 1) / Kvl::PreviewHeight);
  for (const float x : {0.0f, lastX}) {
    for (const float y : {0.0f, lastY}) static_cast<void>(Kvl::KeyProcessor::samplePixel(x, y, picture));
  }
}

// Accepted pictures of up to 16 K pixels (see LargePictures.h): this target
// holds each picture five times over (source, output, reference, their
// bytes), and at that size every such buffer stays within the sanitizer
// allocator's small sizes, where larger ones are mapped and unmapped on every
// run, which took most of the time. (The writer's chunking of pictures too
// large for one pass is covered by its unit tests.)
constexpr std::uint64_t LargestPictureTried = std::uint64_t{1} << 14;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (Kvl::Fuzz::isLargeAndAccepted(data, size, LargestPictureTried)) return 0;
  static const Kvl::Fuzz::Scratch scratch;
  static const std::string sourcePath = scratch.file("source.tga");
  static const std::string outputPath = scratch.file("keyed.tga");
  Kvl::Fuzz::writeWholeFile(sourcePath, data, size);
  std::remove(outputPath.c_str());

  Kvl::TgaLoader reader;
  Kvl::MemoryByteSource bytes(std::span<const std::uint8_t>(data, size));
  const bool loaded = reader.loadFrom(bytes);
  const Settings settings = settingsFor(data, size);
  Kvl::TgaSaver saver;
  const bool saved = saver.save(outputPath.c_str(), sourcePath.c_str(), settings.channel, settings.contrast,
                                settings.offset);
  if (loaded != saved) std::abort();
  if (!saved) {
    if (saver.sourceError() != reader.error()) std::abort();
    if (std::fopen(outputPath.c_str(), "rb") != nullptr) std::abort();  // nothing may be written
    return 0;
  }
  if (saver.sourceTruncated() != reader.truncated()) std::abort();
  samplePreviewCorners(reader);

  Kvl::TgaLoader back;
  if (!back.load(outputPath.c_str())) std::abort();
  if (back.width != reader.width || back.height != reader.height || back.bitsPerPixel != 32 ||
      back.imageType != Kvl::TgaTypeTrueColour || back.idLength != reader.idLength || back.truncated()) {
    std::abort();
  }
  if (readWholeFile(outputPath) != expectedOutput(reader, settings)) std::abort();
  return 0;
}

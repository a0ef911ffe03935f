#include "KeyProcessor.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <vector>

#include "KeySettings.h"
#include "ShellPort.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "imageio/TgaDecoder.h"

namespace Kvl {
namespace {

constexpr int CheckerCell = 12;
constexpr std::uint8_t CheckerLight = 255;
constexpr std::uint8_t CheckerDark = 192;

// The fraction of the preview at which a preview row or column samples:
// index / extent in double precision, narrowed to single precision.
inline float previewFraction(int index, int extent) {
  return static_cast<float>(static_cast<double>(index) / extent);
}

// The source row or column at a fraction: fraction x extent in double
// precision, truncated. The fraction stays below 1, so the index stays
// inside the picture.
inline std::size_t sampleIndex(float fraction, std::size_t extent) {
  return static_cast<std::size_t>(static_cast<double>(fraction) * static_cast<double>(extent));
}

// Rows rendered together, so that each step finds the pixels of the one
// before in the first-level cache.
constexpr int RenderBlockPixels = 10 * PreviewWidth;
static_assert(PreviewPixelCount % RenderBlockPixels == 0);

}  // namespace

KeyProcessor::KeyProcessor(std::uint8_t* checkerboard, Pixel32* previewSource, Pixel32* composite,
                           Pixel32* matte, ShellPort* shell)
    : checkerboard_(checkerboard),
      previewSource_(previewSource),
      composite_(composite),
      matte_(matte),
      shell_(shell) {}

void KeyProcessor::loadSource(const char* path) {
  sourcePath_ = path == nullptr ? "" : path;
  readPreview(sourcePath_.c_str());
}

PreviewRead KeyProcessor::readPreview(const char* path) {
  FileByteSource source(path);
  if (!source.isOpen()) {
    PreviewRead result;
    result.error = LoadError::CannotOpen;
    return result;
  }
  return readPreviewFrom(source);
}

// The same refusals as the whole-picture reader, in the same order; then
// the picture is decoded a row at a time and only the rows the preview
// samples are kept, each just long enough to take its 240 samples.
PreviewRead KeyProcessor::readPreviewFrom(ByteSource& source) {
  PreviewRead result;
  result.error = readTgaPreamble(source, result.header);
  if (result.error == LoadError::None) result.error = checkPixelDataPresent(source, result.header);
  if (!result.ok() || result.header.pixelCount() == 0) return result;  // nothing to sample
  try {
    TgaPixelDecoder decoder(source, result.header);
    sampleRows(decoder, result.header);
    result.truncated = decoder.truncated();
  } catch (const std::bad_alloc&) {
    result.error = LoadError::OutOfMemory;  // the row or the decoder's buffer; the preview is as it was
  }
  return result;
}

// Rows arrive in stored order. A top-to-bottom file stores the picture's
// top row first and a right-to-left file its rows mirrored, so the stored
// row and column of each sample are mirrored the same way: the samples are
// those the whole picture, turned upright, would give.
void KeyProcessor::sampleRows(TgaPixelDecoder& decoder, const TgaHeader& header) {
  const std::size_t width = header.width;
  const std::size_t height = header.height;
  std::array<std::size_t, PreviewWidth> storedColumn{};
  for (int column = 0; column < PreviewWidth; ++column) {
    const std::size_t x = sampleIndex(previewFraction(column, PreviewWidth), width);
    storedColumn[static_cast<std::size_t>(column)] = header.rightToLeft() ? width - 1 - x : x;
  }
  std::array<std::size_t, PreviewHeight> storedRow{};
  std::array<int, PreviewHeight> byStoredRow{};
  for (int row = 0; row < PreviewHeight; ++row) {
    const std::size_t y = sampleIndex(previewFraction(row, PreviewHeight), height);
    storedRow[static_cast<std::size_t>(row)] = header.topToBottom() ? height - 1 - y : y;
    byStoredRow[static_cast<std::size_t>(row)] = header.topToBottom() ? PreviewHeight - 1 - row : row;
  }

  std::vector<Pixel32> line(width);
  std::uint64_t rowsPassed = 0;  // stored rows decoded or skipped so far
  for (const int row : byStoredRow) {
    const std::size_t wanted = storedRow[static_cast<std::size_t>(row)];
    if (wanted >= rowsPassed) {  // several preview rows may share one stored row
      decoder.skip((wanted - rowsPassed) * std::uint64_t{width});
      decoder.decode(line.data(), width);
      rowsPassed = wanted + 1;
    }
    Pixel32* target = previewSource_ + row * PreviewWidth;
    for (std::size_t column = 0; column < PreviewWidth; ++column) target[column] = line[storedColumn[column]];
  }
  // The rest is read only to learn, as a whole-picture read would, whether
  // the file holds all its pixels.
  decoder.skip((height - rowsPassed) * std::uint64_t{width});
}

void KeyProcessor::resampleToPreview(const ImageLoader& image) {
  if (image.width <= 0 || image.height <= 0 || !image.pixels) return;  // nothing to sample
  for (int row = 0; row < PreviewHeight; ++row) {
    const float y = previewFraction(row, PreviewHeight);
    for (int column = 0; column < PreviewWidth; ++column) {
      previewSource_[row * PreviewWidth + column] = samplePixel(previewFraction(column, PreviewWidth), y, image);
    }
  }
}

// Nearest neighbour. The fractions are single precision, so even a
// 240 x 160 source is not copied one to one: some columns and rows take
// their neighbour's pixel.
Pixel32 KeyProcessor::samplePixel(float x, float y, const ImageLoader& image) {
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  return image.pixels[width * sampleIndex(y, height) + sampleIndex(x, width)];
}

// The arithmetic of two passes (key every pixel, then level, blend and
// fill the matte), done a block of rows at a time with the same results.
void KeyProcessor::render(KeyChannel channel, std::uint8_t contrast, std::uint8_t offset) {
  const AlphaTable levels = levelTable(contrast, offset);  // the gain once per render
  for (int start = 0; start < PreviewPixelCount; start += RenderBlockPixels) {
    Pixel32* block = composite_ + start;
    keyPixels(previewSource_ + start, block, RenderBlockPixels, channel);
    levelPixels(block, RenderBlockPixels, levels);
    blendOverCheckerboard(block, matte_ + start, checkerboard_ + start, RenderBlockPixels);
  }
}

void KeyProcessor::saveKeyed(const char* outputPath, KeyChannel channel, std::uint8_t contrast,
                             std::uint8_t offset) {
  auto saver = std::make_unique<TgaSaver>();
  if (!saver->save(outputPath, sourcePath_.c_str(), channel, contrast, offset) && shell_ != nullptr) {
    shell_->showError(SaveFailedText, SaveFailedCaption);
  }
}

void KeyProcessor::keyPixel(Pixel32& pixel, KeyChannel channel) const { Kvl::keyPixel(pixel, channel); }

KeyChannel KeyProcessor::dominantChannel() const { return Kvl::dominantChannel(previewSource_); }

void KeyProcessor::fillCheckerboard(std::uint8_t* checkerboard) {
  for (int row = 0; row < PreviewHeight; ++row) {
    for (int column = 0; column < PreviewWidth; ++column) {
      const bool light = (column / CheckerCell + row / CheckerCell) % 2 == 0;
      checkerboard[row * PreviewWidth + column] = light ? CheckerLight : CheckerDark;
    }
  }
}

void KeyProcessor::scrollCheckerboard(std::uint8_t* checkerboard) {
  for (int row = 0; row < PreviewHeight; ++row) {
    std::uint8_t* line = checkerboard + row * PreviewWidth;
    const std::uint8_t first = line[0];
    for (int column = 0; column + 1 < PreviewWidth; ++column) line[column] = line[column + 1];
    line[PreviewWidth - 1] = first;
  }
}

}  // namespace Kvl

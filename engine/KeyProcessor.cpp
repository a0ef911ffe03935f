#include "KeyProcessor.h"

#include <algorithm>
#include <memory>
#include <new>

#include "keying/KeySettings.h"
#include "ShellPort.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"
#include "imageio/PreviewSampling.h"
#include "imageio/TgaReader.h"

namespace Kvl {
namespace {

constexpr int CheckerCell = 12;
constexpr std::uint8_t CheckerLight = 255;
constexpr std::uint8_t CheckerDark = 192;

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
  TgaReader reader;
  const bool opened = reader.open(path);
  return readPreviewThrough(reader, opened);
}

PreviewRead KeyProcessor::readPreviewFrom(ByteSource& source) {
  TgaReader reader;
  const bool opened = reader.open(source);
  return readPreviewThrough(reader, opened);
}

// The same refusals as the whole-picture reader; then only the rows the
// preview samples are decoded, so memory stays small whatever the
// picture's size.
PreviewRead KeyProcessor::readPreviewThrough(TgaReader& reader, bool opened) {
  PreviewRead result;
  result.error = reader.error();
  result.header = reader.header();
  if (!opened) return result;
  try {
    resampleToPreview(reader);
    result.truncated = reader.damaged();
  } catch (const std::bad_alloc&) {
    result.error = LoadError::OutOfMemory;  // the row; the preview is as it was
  }
  return result;
}

void KeyProcessor::resampleToPreview(PictureSource& source) { resampleRows(source, previewSource_); }

void KeyProcessor::resampleToPreview(const ImageLoader& image) {
  if (image.width <= 0 || image.height <= 0 || !image.pixels) return;  // nothing to sample
  PixelRows rows(image.pixels.get(), static_cast<std::uint32_t>(image.width), static_cast<std::uint32_t>(image.height));
  resampleRows(rows, previewSource_);
}

// Nearest neighbour, by the preview's own rule. The fractions are single
// precision, so even a 240 x 160 source is not copied one to one: some
// columns and rows take their neighbour's pixel.
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

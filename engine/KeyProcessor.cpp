#include "KeyProcessor.h"

#include <memory>

#include "ShellPort.h"
#include "imageio/ImageLoader.h"
#include "imageio/ImageSaver.h"

namespace Kvl {
namespace {

constexpr int CheckerCell = 12;
constexpr std::uint8_t CheckerLight = 255;
constexpr std::uint8_t CheckerDark = 192;

// c * h + K * (255 - h), divided by 255 with the remainder dropped.
inline std::uint32_t blend(std::uint32_t colour, std::uint32_t alpha, std::uint32_t grey) {
  return (colour * alpha + grey * (255u - alpha)) / 255u;
}

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
  auto loader = std::make_unique<TgaLoader>();
  PreviewRead result;
  if (loader->load(path)) resampleToPreview(*loader);
  result.error = loader->error();
  result.header = loader->header();
  result.truncated = loader->truncated();
  return result;
}

void KeyProcessor::resampleToPreview(const ImageLoader& image) {
  if (image.width <= 0 || image.height <= 0 || !image.pixels) return;  // nothing to sample
  for (int row = 0; row < PreviewHeight; ++row) {
    const auto y = static_cast<float>(static_cast<double>(row) / PreviewHeight);
    for (int column = 0; column < PreviewWidth; ++column) {
      const auto x = static_cast<float>(static_cast<double>(column) / PreviewWidth);
      previewSource_[row * PreviewWidth + column] = samplePixel(x, y, image);
    }
  }
}

// Nearest neighbour. The fractions are single precision, so even a
// 240 x 160 source is not copied one to one: some columns and rows take
// their neighbour's pixel.
Pixel32 KeyProcessor::samplePixel(float x, float y, const ImageLoader& image) {
  const auto width = static_cast<std::size_t>(image.width);
  const auto height = static_cast<std::size_t>(image.height);
  const auto row = static_cast<std::size_t>(static_cast<double>(y) * static_cast<double>(height));
  const auto column = static_cast<std::size_t>(static_cast<double>(x) * static_cast<double>(width));
  return image.pixels[width * row + column];
}

void KeyProcessor::render(KeyChannel channel, std::uint8_t contrast, std::uint8_t offset) {
  const AlphaTable levels = levelTable(contrast, offset);  // the gain once per render
  for (int i = 0; i < PreviewPixelCount; ++i) {
    Pixel32 pixel = previewSource_[i];
    Kvl::keyPixel(pixel, channel);
    composite_[i] = pixel;
  }
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const Pixel32 keyed = composite_[i];
    const std::uint32_t alpha = levels[alphaOf(keyed)];
    matte_[i] = alpha * 0x010101u;  // B = G = R = alpha, alpha byte 0
    const std::uint32_t grey = checkerboard_[i];
    composite_[i] = alpha << 24 | blend(redOf(keyed), alpha, grey) << 16 |
                    blend(greenOf(keyed), alpha, grey) << 8 | blend(blueOf(keyed), alpha, grey);
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

KeyChannel KeyProcessor::dominantChannel() const {
  std::uint32_t red = 0, green = 0, blue = 0;
  for (int i = 0; i < PreviewPixelCount; ++i) {
    red += redOf(previewSource_[i]);
    green += greenOf(previewSource_[i]);
    blue += blueOf(previewSource_[i]);
  }
  if (green >= red && green >= blue) return GreenChannel;
  if (blue >= red && blue >= green) return BlueChannel;
  return RedChannel;
}

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

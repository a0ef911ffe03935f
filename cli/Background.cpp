#include "Background.h"

#include "keying/LightWrap.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "keying/Compose.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {
namespace {

std::optional<Pixel32> parseColour(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  if (!std::all_of(text.begin() + 1, text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return std::nullopt;
  }
  const auto value = static_cast<Pixel32>(std::strtoul(text.c_str() + 1, nullptr, 16));
  return value & 0x00FFFFFFu;  // 0xRRGGBB is already red, green, blue in Pixel32's bits
}

// The source index each output position samples when a side of `from`
// pixels is scaled by `scale` and centred on a side of `to` pixels.
std::vector<std::uint32_t> coverMap(std::uint32_t from, std::uint32_t to, double scale) {
  std::vector<std::uint32_t> map(to);
  const double margin = (static_cast<double>(from) * scale - to) / 2;
  for (std::uint32_t i = 0; i < to; ++i) {
    const double at = (i + 0.5 + margin) / scale;
    map[i] = static_cast<std::uint32_t>(std::clamp(at, 0.0, static_cast<double>(from - 1)));
  }
  return map;
}

}  // namespace

Background Background::colour(Pixel32 colour) {
  Background background;
  background.colour_ = colour;
  return background;
}

Background Background::picture(std::vector<Pixel32> pixels) {
  Background background;
  background.pixels_ = std::move(pixels);
  return background;
}

void Background::composeRows(Pixel32* rows, std::uint32_t topRow, std::size_t count) const {
  if (pixels_.empty()) {
    composeOverColour(rows, colour_, count * width);
    return;
  }
  composeOver(rows, pixels_.data() + std::size_t{topRow} * width, count * width);
}

std::optional<std::vector<Pixel32>> readWholePicture(const std::string& path, std::uint32_t& width, std::uint32_t& height,
                                              std::string& error, ChromaUpsampling chroma, float* colourQuantisation) {
  PictureError failed;
  const std::unique_ptr<PictureSource> source = openPicture(path, sniffPictureFormat(path), failed, chroma);
  if (!source) {
    error = describe(failed);
    return std::nullopt;
  }
  width = source->width();
  height = source->height();
  if (colourQuantisation) *colourQuantisation = source->colourQuantisation();
  // The readers refuse pictures larger than this machine can address.
  std::vector<Pixel32> pixels(static_cast<std::size_t>(source->pixelCount()));
  for (std::uint64_t i = 0; i < height; ++i) {
    const std::uint64_t y = source->rowOrder() == RowOrder::TopDown ? i : height - 1 - i;
    source->readRows(pixels.data() + y * width, 1);
  }
  return pixels;
}

std::optional<Background> makeBackground(const std::string& colourOrPicture, std::uint32_t width, std::uint32_t height,
                                         std::string& error) {
  if (const auto colour = parseColour(colourOrPicture)) {
    Background background = Background::colour(*colour);
    background.width = width;
    return background;
  }
  if (colourOrPicture.starts_with('#')) {
    error = "a background colour is written #RRGGBB, e.g. #204080";
    return std::nullopt;
  }
  std::uint32_t pictureWidth = 0, pictureHeight = 0;
  const auto whole = readWholePicture(colourOrPicture, pictureWidth, pictureHeight, error);
  if (!whole) return std::nullopt;
  if (pictureWidth == 0 || pictureHeight == 0) {
    error = "the background picture is empty";
    return std::nullopt;
  }
  // Scaled to cover the frame, nearest sample: the larger of the two ratios.
  const double scale = std::max(static_cast<double>(width) / pictureWidth, static_cast<double>(height) / pictureHeight);
  const auto columns = coverMap(pictureWidth, width, scale);
  const auto rows = coverMap(pictureHeight, height, scale);
  std::vector<Pixel32> scaled(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      scaled[std::size_t{y} * width + x] = (*whole)[std::size_t{rows[y]} * pictureWidth + columns[x]];
    }
  }
  Background background = Background::picture(std::move(scaled));
  background.width = width;
  return background;
}

bool BackgroundSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  height_ = height;
  row_.resize(static_cast<std::size_t>(width));  // a frame or picture already open, so addressable
  if (inner_->open(path, width, height, order)) return true;
  return fail(inner_->failure());
}

// Rows come bottom row first; the background is kept top row first.
void BackgroundSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::copy_n(rows + i * row_.size(), row_.size(), row_.data());
    background_.composeRows(row_.data(), static_cast<std::uint32_t>(height_ - 1 - (firstRow + i)), 1);
    inner_->writeRows(firstRow + i, row_.data(), 1);
  }
}

bool BackgroundSink::commit() {
  if (inner_->commit()) return true;
  return fail(inner_->failure());
}

std::vector<Pixel32> backgroundPixels(const Background& background, std::uint32_t height) {
  std::vector<Pixel32> pixels(std::size_t{background.width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < background.width; ++x) pixels[std::size_t{y} * background.width + x] = background.at(x, y);
  }
  return pixels;
}

bool LightWrapSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  width_ = static_cast<std::uint32_t>(width);
  height_ = static_cast<std::uint32_t>(height);
  order_ = order;
  picture_.assign(static_cast<std::size_t>(width * height), 0);  // a picture already open, so addressable
  return inner_->open(path, width, height, order) || fail(inner_->failure());
}

// Rows come bottom row first; the picture is kept top row first.
void LightWrapSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t top = height_ - 1 - static_cast<std::size_t>(firstRow + i);
    std::copy_n(rows + i * width_, width_, picture_.begin() + static_cast<std::ptrdiff_t>(top * width_));
  }
}

bool LightWrapSink::commit() {
  wrapLight(picture_, width_, height_, radius_, backgroundPixels(background_, height_));
  for (std::uint32_t i = 0; i < height_; ++i) {
    const std::uint32_t top = order_ == RowOrder::TopDown ? i : height_ - 1 - i;
    inner_->writeRows(height_ - 1 - top, picture_.data() + std::size_t{top} * width_, 1);
  }
  picture_.clear();
  return inner_->commit() || fail(inner_->failure());
}

}  // namespace Kvl::Cli

#include "PlateFiles.h"

#include <algorithm>

#include "imageio/PictureFiles.h"

namespace Kvl::Bench {

bool writeWholePicture(PictureSink& sink, const std::string& path, std::uint32_t width, std::uint32_t height,
                       const std::vector<Pixel32>& pixels, std::string& error) {
  if (pixels.size() != std::size_t{width} * height) {
    error = path + ": picture holds the wrong number of pixels";
    return false;
  }
  bool written = sink.open(path, width, height, RowOrder::TopDown);
  // A sink takes rows counted from the bottom; these are held top first.
  for (std::uint32_t top = 0; written && top < height; ++top) {
    sink.writeRows(height - 1 - top, pixels.data() + std::size_t{top} * width, 1);
  }
  written = written && sink.commit();
  if (!written) error = path + ": " + sink.failure();
  return written;
}

bool readPngWithAlpha(const std::string& path, WholePicture& picture, std::string& error) {
  PictureError failure;
  std::unique_ptr<PictureSource> source = openPngWithAlpha(path, failure);
  if (!source) {
    error = path + ": " + describe(failure);
    return false;
  }
  picture.width = source->width();
  picture.height = source->height();
  picture.pixels.assign(source->pixelCount(), 0);
  source->readRows(picture.pixels.data(), picture.height);
  if (source->damaged()) {
    error = path + ": the file is damaged or cut short";
    return false;
  }
  if (source->rowOrder() == RowOrder::BottomUp) {
    for (std::uint32_t top = 0, bottom = picture.height - 1; top < bottom; ++top, --bottom) {
      std::swap_ranges(picture.pixels.begin() + std::ptrdiff_t{top} * picture.width,
                       picture.pixels.begin() + std::ptrdiff_t{top + 1} * picture.width,
                       picture.pixels.begin() + std::ptrdiff_t{bottom} * picture.width);
    }
  }
  return true;
}

}  // namespace Kvl::Bench

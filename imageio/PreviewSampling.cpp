#include "PreviewSampling.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace Kvl {

// Rows are taken in the order the source hands them out. A top-down source
// hands out the picture's top row first, so the preview rows are visited
// from the top down too: each sample is the one the whole picture, bottom
// row first, would give.
void resampleRows(PictureSource& source, Pixel32* preview) {
  const std::size_t width = source.width();
  const std::size_t height = source.height();
  if (width == 0 || height == 0) return;  // nothing to sample
  std::array<std::size_t, PreviewWidth> column{};
  for (int x = 0; x < PreviewWidth; ++x) {
    column[static_cast<std::size_t>(x)] = sampleIndex(previewFraction(x, PreviewWidth), width);
  }
  const bool topDown = source.rowOrder() == RowOrder::TopDown;
  std::vector<Pixel32> line(width);
  std::uint64_t rowsPassed = 0;  // rows read or skipped so far
  for (int visit = 0; visit < PreviewHeight; ++visit) {
    const int row = topDown ? PreviewHeight - 1 - visit : visit;
    const std::uint64_t wanted = source.handedOutIndex(sampleIndex(previewFraction(row, PreviewHeight), height));
    if (wanted >= rowsPassed) {  // several preview rows may share one source row
      source.skipRows(wanted - rowsPassed);
      source.readRows(line.data(), 1);
      rowsPassed = wanted + 1;
    }
    Pixel32* target = preview + row * PreviewWidth;
    for (std::size_t x = 0; x < PreviewWidth; ++x) target[x] = line[column[x]];
  }
  source.skipRows(height - rowsPassed);
}

PixelRows::PixelRows(const Pixel32* pixels, std::uint32_t width, std::uint32_t height) : pixels_(pixels) {
  setShape(width, height, RowOrder::BottomUp);
}

void PixelRows::readRows(Pixel32* out, std::size_t rows) {
  const std::size_t rowLength = width();
  std::memcpy(out, pixels_ + next_ * rowLength, rows * rowLength * sizeof(Pixel32));
  next_ += rows;
}

bool PixelRows::rewind() {
  next_ = 0;
  return true;
}

}  // namespace Kvl

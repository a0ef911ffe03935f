#pragma once
// The one rule by which a picture is stretched to the 240 x 160 preview:
// nearest neighbour, at the source row and column a single-precision
// fraction of the preview gives.

#include <cstddef>

#include "PictureSource.h"
#include "keying/Pixel.h"

namespace Kvl {

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

// Fills `preview` (PreviewPixelCount pixels, bottom row first) from
// `source`, reading only the rows the preview shows and skipping the rest;
// the rows after the last sampled one are skipped too, so that the source
// learns, as a whole read would, whether the file holds all its pixels. An
// empty picture leaves the preview as it was. Throws std::bad_alloc when a
// row cannot be held.
void resampleRows(PictureSource& source, Pixel32* preview);

// An in-memory picture (bottom row first) as a source.
class PixelRows final : public PictureSource {
public:
  PixelRows(const Pixel32* pixels, std::uint32_t width, std::uint32_t height);
  void readRows(Pixel32* out, std::size_t rows) override;
  void skipRows(std::uint64_t rows) override { next_ += rows; }
  bool rewind() override;
  bool damaged() const override { return false; }

private:
  const Pixel32* pixels_;  // we don't own them
  std::uint64_t next_ = 0;
};

}  // namespace Kvl

#pragma once
// A picture handed out a row at a time, whatever its format: its size, its
// rows in the order the file keeps them (so that nobody has to hold the
// whole picture to turn it over), and whether the file was short or damaged.

#include <cstddef>
#include <cstdint>

#include "keying/Pixel.h"
#include "keying/RowOrder.h"

namespace Kvl {

// A source hands out its rows in its file's RowOrder, left to right, alpha
// 0 unless it was asked to keep the file's.

// What a reader does with the alpha a file holds: keying drops it (the key
// makes its own); the tools that measure a keyed output keep it.
enum class AlphaReading { Dropped, Kept };

class PictureSource {
public:
  virtual ~PictureSource() = default;
  PictureSource(const PictureSource&) = delete;
  PictureSource& operator=(const PictureSource&) = delete;

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::uint64_t pixelCount() const { return std::uint64_t{width_} * height_; }
  RowOrder rowOrder() const { return order_; }
  // Where the picture's row `y` (counted from the bottom) comes among the
  // rows handed out.
  std::uint64_t handedOutIndex(std::uint64_t y) const {
    return order_ == RowOrder::BottomUp ? y : height_ - 1 - y;
  }

  // Writes the next `rows` rows (width() pixels each) into `out`. Rows the
  // file does not hold are black and mark the source damaged.
  virtual void readRows(Pixel32* out, std::size_t rows) = 0;
  // Moves past the next `rows` rows as readRows would, without handing them out.
  virtual void skipRows(std::uint64_t rows) = 0;
  // Starts again at the first row; false when the source cannot.
  virtual bool rewind() = 0;
  // The file ended early or was corrupt in places; what it lacked is black
  // (or, for a JPEG, what the decoder could make of it).
  virtual bool damaged() const = 0;
  // The length of the image-ID field the file carries: a keyed Targa output
  // keeps one as long, zero-filled. Only Targa files have one.
  virtual std::uint8_t idLength() const { return 0; }
  // How coarsely the file stores colour detail, in levels: for a JPEG the
  // mean quantisation step of its colour's lowest frequencies; 0 for the
  // lossless formats. Compression smooths flat areas and errs most at
  // edges, so noise measured on a flat backdrop understates it.
  virtual float colourQuantisation() const { return 0; }

protected:
  PictureSource() = default;
  void setShape(std::uint32_t width, std::uint32_t height, RowOrder order) {
    width_ = width;
    height_ = height;
    order_ = order;
  }

private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  RowOrder order_ = RowOrder::BottomUp;
};

}  // namespace Kvl

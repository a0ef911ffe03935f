#pragma once
// A picture a codec library decoded whole, top row first as PNG and JPEG
// store it, handed out as a source. The libraries report some failures
// only as they decode, so the whole picture is decoded when it is opened:
// a refusal then comes before any output is made.

#include <cstring>
#include <memory>

#include "PictureError.h"
#include "PictureSource.h"

namespace Kvl {

class DecodedRows : public PictureSource {
public:
  const PictureError& failure() const { return failure_; }

  void readRows(Pixel32* out, std::size_t rows) override {
    const std::size_t rowLength = width();
    std::memcpy(out, pixels_.get() + next_ * rowLength, rows * rowLength * sizeof(Pixel32));
    next_ += rows;
  }
  void skipRows(std::uint64_t rows) override { next_ += rows; }
  bool rewind() override {
    next_ = 0;
    return pixels_ != nullptr;
  }
  bool damaged() const override { return damaged_; }
  float colourQuantisation() const override { return colourQuantisation_; }

protected:
  explicit DecodedRows(PictureFormat format) { failure_.format = format; }
  void keep(std::unique_ptr<Pixel32[]> pixels, std::uint32_t width, std::uint32_t height, bool damaged) {
    pixels_ = std::move(pixels);
    setShape(width, height, RowOrder::TopDown);
    damaged_ = damaged;
    next_ = 0;
  }
  void setColourQuantisation(float step) { colourQuantisation_ = step; }
  bool fail(LoadError reason, std::uint64_t width = 0, std::uint64_t height = 0, std::string detail = {}) {
    failure_.reason = reason;
    failure_.width = width;
    failure_.height = height;
    failure_.detail = std::move(detail);
    pixels_.reset();
    return false;
  }

private:
  PictureError failure_;
  std::unique_ptr<Pixel32[]> pixels_;
  std::uint64_t next_ = 0;
  bool damaged_ = false;
  float colourQuantisation_ = 0;
};

}  // namespace Kvl

#pragma once
// Where the 8-bit path meets deep pictures: a deep picture read as 8-bit
// rows (for the classic keyer, the views and a background), and 8-bit
// keyed rows written into a deep file (an 8-bit plate keyed into OpenEXR
// or TIFF). The conversions follow the transfer: 8-bit values are coded
// (sRGB), OpenEXR holds linear light.

#include <memory>
#include <vector>

#include "keying/DeepPixel.h"
#include "imageio/DeepPicture.h"
#include "imageio/PictureSink.h"
#include "imageio/PictureSource.h"

namespace Kvl::Cli {

// What the options ask of deep pictures, for each job.
struct DeepOptions {
  std::optional<Transfer> inputTransfer;  // else the file's own
  std::optional<bool> premultiplied;      // else premultiplied for OpenEXR only
  ExrCompression exrCompression = ExrCompression::Zip;
  int lightWrap = 0;
};

// A value of `transfer` as an 8-bit level to show: linear light is coded
// with the sRGB curve first, coded values are kept; clamped and rounded.
std::uint8_t displayLevel(float value, Transfer transfer);
Pixel32 displayPixel(const PixelF& pixel, Transfer transfer);  // alpha rounded to 8 bits
// A float in `transfer` from an 8-bit sRGB-coded level.
float valueOfLevel(std::uint8_t level, Transfer transfer);
// A value in transfer `from` as one in transfer `to`.
float convertTransfer(float value, Transfer from, Transfer to);

// The deep picture's rows as 8-bit ones to show, top row first, alpha 0.
class DeepAsEightBit final : public PictureSource {
public:
  DeepAsEightBit(std::unique_ptr<DeepPictureSource> deep, Transfer transfer);
  void readRows(Pixel32* out, std::size_t rows) override;
  void skipRows(std::uint64_t rows) override { deep_->skipRows(rows); }
  bool rewind() override { return deep_->rewind(); }
  bool damaged() const override { return deep_->damaged(); }

private:
  std::unique_ptr<DeepPictureSource> deep_;
  Transfer transfer_;
  std::vector<PixelF> row_;
};

// 8-bit keyed rows (straight alpha, sRGB-coded) into a deep file: linear
// for OpenEXR, premultiplied where asked. Rows arriving from the bottom are
// held until the picture is whole, as the file is written from the top.
class EightBitIntoDeep final : public PictureSink {
public:
  // `levels`: what the 8-bit values are (sRGB unless --input-transfer says).
  EightBitIntoDeep(std::unique_ptr<DeepPictureSink> deep, DeepLayout layout, Transfer levels = Transfer::Srgb)
      : deep_(std::move(deep)), layout_(layout), levels_(levels) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  void writeTopDown(const Pixel32* row);

  std::unique_ptr<DeepPictureSink> deep_;
  DeepLayout layout_;
  Transfer levels_;
  std::size_t width_ = 0;
  std::uint64_t height_ = 0;
  RowOrder order_ = RowOrder::TopDown;
  std::vector<Pixel32> held_;  // a bottom-up picture, bottom row first
  std::vector<PixelF> row_;
};

// 8-bit keyed rows with their colour multiplied by their alpha (rounded)
// on their way to `inner`, for an 8-bit output asked for premultiplied alpha.
class PremultiplyingSink final : public PictureSink {
public:
  explicit PremultiplyingSink(std::unique_ptr<PictureSink> inner) : inner_(std::move(inner)) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  std::unique_ptr<PictureSink> inner_;
  std::size_t width_ = 0;
  std::vector<Pixel32> rows_;
};

// The layout a deep output of `format` is written with for an input of
// `input` layout: OpenEXR half floats (float for a float input) in linear
// light, premultiplied unless asked otherwise; TIFF and PNG 16-bit
// (TIFF float for a float input), coded, straight unless asked otherwise.
DeepLayout outputLayoutFor(DeepFormat format, const DeepLayout& input, const DeepOptions& options);

}  // namespace Kvl::Cli

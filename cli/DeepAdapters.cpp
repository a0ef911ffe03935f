#include "DeepAdapters.h"

#include <algorithm>
#include <cmath>

namespace Kvl::Cli {

std::uint8_t displayLevel(float value, Transfer transfer) {
  const float coded = transfer == Transfer::Linear ? encodeTransfer(value, Transfer::Srgb) : value;
  if (!(coded > 0)) return 0;
  return static_cast<std::uint8_t>(std::lround(std::min(coded, 1.0f) * 255));
}

Pixel32 displayPixel(const PixelF& pixel, Transfer transfer) {
  const float alpha = std::clamp(pixel.alpha, 0.0f, 1.0f);
  return makePixel(displayLevel(pixel.red, transfer), displayLevel(pixel.green, transfer),
                   displayLevel(pixel.blue, transfer), static_cast<std::uint8_t>(std::lround(alpha * 255)));
}

float valueOfLevel(std::uint8_t level, Transfer transfer) {
  const float coded = static_cast<float>(level) / 255.0f;
  return transfer == Transfer::Linear ? decodeTransfer(coded, Transfer::Srgb) : coded;
}

float convertTransfer(float value, Transfer from, Transfer to) {
  return from == to ? value : encodeTransfer(decodeTransfer(value, from), to);
}

DeepAsEightBit::DeepAsEightBit(std::unique_ptr<DeepPictureSource> deep, Transfer transfer)
    : deep_(std::move(deep)), transfer_(transfer), row_(deep_->width()) {
  setShape(deep_->width(), deep_->height(), RowOrder::TopDown);
}

void DeepAsEightBit::readRows(Pixel32* out, std::size_t rows) {
  for (std::size_t r = 0; r < rows; ++r) {
    deep_->readRows(row_.data(), 1);
    for (std::size_t x = 0; x < row_.size(); ++x) {
      out[r * row_.size() + x] = displayPixel(row_[x], transfer_) & 0x00FFFFFF;  // alpha 0, as every source
    }
  }
}

bool EightBitIntoDeep::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  if (!deep_->open(path, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), layout_)) {
    return fail(deep_->failure());
  }
  width_ = static_cast<std::size_t>(width);
  height_ = height;
  order_ = order;
  row_.resize(width_);
  if (order == RowOrder::BottomUp) held_.resize(static_cast<std::size_t>(width * height));
  return true;
}

void EightBitIntoDeep::writeTopDown(const Pixel32* row) {
  for (std::size_t x = 0; x < width_; ++x) {
    const Pixel32 p = row[x];
    const float alpha = static_cast<float>(alphaOf(p)) / 255.0f;
    const float scale = layout_.premultiplied ? alpha : 1.0f;
    const auto value = [&](std::uint8_t level) {
      return convertTransfer(static_cast<float>(level) / 255.0f, levels_, layout_.transfer) * scale;
    };
    row_[x] = {value(redOf(p)), value(greenOf(p)), value(blueOf(p)), alpha};
  }
  deep_->writeRows(row_.data(), 1);
}

// Blocks come bottom row first; a top-down picture's blocks come from the top.
void EightBitIntoDeep::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  if (order_ == RowOrder::BottomUp) {
    std::copy_n(rows, count * width_, held_.begin() + static_cast<std::ptrdiff_t>(firstRow * width_));
    return;
  }
  for (std::size_t i = count; i-- > 0;) writeTopDown(rows + i * width_);
}

bool EightBitIntoDeep::commit() {
  for (std::size_t y = held_.empty() ? 0 : static_cast<std::size_t>(height_); y-- > 0;) writeTopDown(held_.data() + y * width_);
  held_.clear();
  if (deep_->commit()) return true;
  return fail(deep_->failure());
}

bool PremultiplyingSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) {
  width_ = static_cast<std::size_t>(width);
  return inner_->open(path, width, height, order) || fail(inner_->failure());
}

void PremultiplyingSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  rows_.resize(count * width_);
  const auto times = [](std::uint32_t c, std::uint32_t a) { return static_cast<std::uint8_t>((c * a + 127) / 255); };
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const Pixel32 p = rows[i];
    const std::uint8_t a = alphaOf(p);
    rows_[i] = makePixel(times(redOf(p), a), times(greenOf(p), a), times(blueOf(p), a), a);
  }
  inner_->writeRows(firstRow, rows_.data(), count);
}

bool PremultiplyingSink::commit() { return inner_->commit() || fail(inner_->failure()); }

DeepLayout outputLayoutFor(DeepFormat format, const DeepLayout& input, const DeepOptions& options) {
  DeepLayout layout;
  layout.alpha = true;
  const bool floatInput = input.samples == SampleType::Float;
  if (format == DeepFormat::Exr) {
    layout.samples = floatInput ? SampleType::Float : SampleType::Half;
    layout.transfer = Transfer::Linear;
    layout.premultiplied = options.premultiplied.value_or(true);
    return layout;
  }
  layout.samples = format == DeepFormat::Tiff && floatInput ? SampleType::Float : SampleType::Uint16;
  layout.transfer = input.transfer == Transfer::Linear && !floatInput ? Transfer::Srgb : input.transfer;
  if (format == DeepFormat::Tiff && floatInput) layout.transfer = input.transfer;
  layout.premultiplied = options.premultiplied.value_or(false);
  return layout;
}

}  // namespace Kvl::Cli

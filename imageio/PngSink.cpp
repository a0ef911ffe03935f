#include "PngSink.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>

namespace Kvl {
namespace {

constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::uint64_t LargestDimension = 0x7fffffff;  // PNG's limit, 2^31 - 1
// Bytes of IDAT data per chunk: any size up to 2^31 - 1 is valid; smaller
// chunks keep every length far from it.
constexpr std::size_t IdatChunkBytes = std::size_t{1} << 20;
constexpr std::uint8_t PaethFilter = 4;

void putBe32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

// The predictor of the Paeth filter: of left, above and upper-left, the one
// nearest to left + above - upper-left (ties in that order).
std::uint8_t paethPredictor(int left, int above, int upperLeft) {
  const int estimate = left + above - upperLeft;
  const int toLeft = std::abs(estimate - left);
  const int toAbove = std::abs(estimate - above);
  const int toUpperLeft = std::abs(estimate - upperLeft);
  if (toLeft <= toAbove && toLeft <= toUpperLeft) return static_cast<std::uint8_t>(left);
  if (toAbove <= toUpperLeft) return static_cast<std::uint8_t>(above);
  return static_cast<std::uint8_t>(upperLeft);
}

// One row with the Paeth filter, its type byte first. Paeth on every row
// compresses keyed frames (smooth backdrops, a flat alpha) best of the five
// filters, for a cost small beside the deflate; `above` is null for the top row.
void paethRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, std::uint8_t* out) {
  constexpr std::size_t BytesPerPixel = 4;
  out[0] = PaethFilter;
  for (std::size_t i = 0; i < rowBytes; ++i) {
    const int left = i >= BytesPerPixel ? row[i - BytesPerPixel] : 0;
    const int up = above != nullptr ? above[i] : 0;
    const int upperLeft = above != nullptr && i >= BytesPerPixel ? above[i - BytesPerPixel] : 0;
    out[1 + i] = static_cast<std::uint8_t>(row[i] - paethPredictor(left, up, upperLeft));
  }
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

}  // namespace

PngSink::PngSink(int level) : level_(std::clamp(level, 0, HighestPngLevel)) {}
PngSink::~PngSink() = default;

bool PngSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder) {
  if (width == 0 || height == 0 || width > LargestDimension || height > LargestDimension ||
      width * height > (std::uint64_t{1} << 40) / 4) {
    return fail("a PNG file cannot hold a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
  }
  output_ = std::make_unique<ReplacingFile>(path);
  if (!output_->open()) return fail("cannot open for writing");
  width_ = static_cast<std::size_t>(width);
  height_ = static_cast<std::size_t>(height);
  rgba_.resize(width_ * height_ * 4);
  return true;
}

// Row `firstRow` counted from the bottom is PNG's row height - 1 - firstRow.
void PngSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t pngRow = height_ - 1 - static_cast<std::size_t>(firstRow) - i;
    std::uint8_t* out = rgba_.data() + pngRow * width_ * 4;
    const Pixel32* in = rows + i * width_;
    for (std::size_t x = 0; x < width_; ++x, out += 4) {
      out[0] = redOf(in[x]);
      out[1] = greenOf(in[x]);
      out[2] = blueOf(in[x]);
      out[3] = alphaOf(in[x]);
    }
  }
}

std::vector<std::uint8_t> PngSink::filteredImage() const {
  const std::size_t rowBytes = width_ * 4;
  std::vector<std::uint8_t> filtered(height_ * (rowBytes + 1));
  for (std::size_t row = 0; row < height_; ++row) {
    const std::uint8_t* above = row > 0 ? rgba_.data() + (row - 1) * rowBytes : nullptr;
    paethRow(rgba_.data() + row * rowBytes, above, rowBytes, filtered.data() + row * (rowBytes + 1));
  }
  return filtered;
}

// Length, type, data, and the CRC of type and data.
bool PngSink::writeChunk(const char* type, const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[8];
  putBe32(head, static_cast<std::uint32_t>(size));
  std::copy_n(type, 4, head + 4);
  std::uint8_t crc[4];
  putBe32(crc, libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), data, size));
  output_->write(head, sizeof head);
  output_->write(data, size);
  output_->write(crc, sizeof crc);
  return true;
}

bool PngSink::commit() {
  const std::vector<std::uint8_t> filtered = filteredImage();
  rgba_ = {};
  const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(level_));
  if (!compressor) return fail("not enough memory to write");
  std::vector<std::uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
  const std::size_t size = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(),
                                                    compressed.data(), compressed.size());
  if (size == 0) return fail("cannot encode PNG: the compressed picture did not fit");
  std::uint8_t header[13];
  putBe32(header, static_cast<std::uint32_t>(width_));
  putBe32(header + 4, static_cast<std::uint32_t>(height_));
  header[8] = 8;   // bits per sample
  header[9] = 6;   // colour type: RGB with alpha
  header[10] = 0;  // deflate
  header[11] = 0;  // adaptive filtering, one filter type byte per row
  header[12] = 0;  // not interlaced
  output_->write(Signature, sizeof Signature);
  writeChunk("IHDR", header, sizeof header);
  for (std::size_t at = 0; at < size; at += IdatChunkBytes) {
    writeChunk("IDAT", compressed.data() + at, std::min(IdatChunkBytes, size - at));
  }
  writeChunk("IEND", nullptr, 0);
  if (!output_->commit()) return fail("writing failed (disk full or not writable)");
  return true;
}

}  // namespace Kvl

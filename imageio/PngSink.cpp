#include "PngSink.h"

#include "PngFilters.h"

#include <libdeflate.h>

#include <algorithm>
#include <vector>

namespace Kvl {
namespace {

constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr std::uint64_t LargestDimension = 0x7fffffff;  // PNG's limit, 2^31 - 1
// Bytes of IDAT data per chunk: any size up to 2^31 - 1 is valid; smaller
// chunks keep every length far from it.
constexpr std::size_t IdatChunkBytes = std::size_t{1} << 20;
// The sample that decides between filtered and unfiltered rows: the first
// SampleRows of every SampleStride rows.
constexpr std::size_t SampleStride = 64;
constexpr std::size_t SampleRows = 8;

// A row's type byte (no filter) and its bytes as they are.
void unfilteredRow(const std::uint8_t* pixels, std::size_t rowBytes, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(PngFilter::None);
  std::copy_n(pixels, rowBytes, out + 1);
}

void putBe32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

// A buffer that a thread keeps from one picture to the next. Fresh
// picture-sized allocations cost more than the filter in zeroing and page
// faults; a batch thread writes picture after picture of one size.
class ScratchBuffer {
public:
  ScratchBuffer() {
    std::vector<std::vector<std::uint8_t>>& pool = freeBuffers();
    if (!pool.empty()) {
      bytes_ = std::move(pool.back());
      pool.pop_back();
    }
  }
  ~ScratchBuffer() {
    std::vector<std::vector<std::uint8_t>>& pool = freeBuffers();
    if (pool.size() < MostKept) pool.push_back(std::move(bytes_));
  }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  // At least `size` bytes, of no particular content.
  std::uint8_t* data(std::size_t size) {
    if (bytes_.size() < size) bytes_.resize(size);
    return bytes_.data();
  }

private:
  static constexpr std::size_t MostKept = 5;  // one Buffers' worth
  static std::vector<std::vector<std::uint8_t>>& freeBuffers() {
    thread_local std::vector<std::vector<std::uint8_t>> pool;
    return pool;
  }
  std::vector<std::uint8_t> bytes_;
};

struct CompressorDeleter {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

}  // namespace

struct PngSink::Buffers {
  ScratchBuffer rgba;
  ScratchBuffer filtered;
  ScratchBuffer scratch;
  ScratchBuffer sample;
  ScratchBuffer compressed;
};

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
  buffers_ = std::make_unique<Buffers>();
  rgba_ = buffers_->rgba.data(width_ * height_ * 4);
  return true;
}

// Row `firstRow` counted from the bottom is PNG's row height - 1 - firstRow.
void PngSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t pngRow = height_ - 1 - static_cast<std::size_t>(firstRow) - i;
    std::uint8_t* out = rgba_ + pngRow * width_ * 4;
    const Pixel32* in = rows + i * width_;
    for (std::size_t x = 0; x < width_; ++x, out += 4) {
      out[0] = redOf(in[x]);
      out[1] = greenOf(in[x]);
      out[2] = blueOf(in[x]);
      out[3] = alphaOf(in[x]);
    }
  }
}

// Each row with the filter that suits it best (PngFilters.h), or none at
// all where that compresses smaller (below); stored output (level 0) is as
// large whatever the filter, so its rows are not filtered.
const std::uint8_t* PngSink::filteredImage(libdeflate_compressor* compressor) {
  const std::size_t rowBytes = width_ * 4;
  std::uint8_t* filtered = buffers_->filtered.data(height_ * (rowBytes + 1));
  // Four candidate rows, and the row of zeros that stands above the top row.
  std::uint8_t* scratch = buffers_->scratch.data(5 * rowBytes);
  std::uint8_t* zeros = scratch + 4 * rowBytes;
  std::fill_n(zeros, rowBytes, std::uint8_t{0});
  for (std::size_t row = 0; row < height_; ++row) {
    const std::uint8_t* pixels = rgba_ + row * rowBytes;
    std::uint8_t* out = filtered + row * (rowBytes + 1);
    if (level_ == 0) {
      unfilteredRow(pixels, rowBytes, out);
    } else {
      filterPngRowAdaptively(pixels, row > 0 ? pixels - rowBytes : zeros, rowBytes, out, scratch);
    }
  }
  if (level_ > 0 && unfilteredIsSmaller(compressor, filtered)) {
    for (std::size_t row = 0; row < height_; ++row) {
      unfilteredRow(rgba_ + row * rowBytes, rowBytes, filtered + row * (rowBytes + 1));
    }
  }
  return filtered;
}

// The smallest sum of differences is blind to grain: on noisy footage every
// filter's differences add the noise of two or three pixels, and the rows
// as they are deflate smaller than any of them. So bands of rows, an eighth
// of the picture, are deflated both ways, and the whole picture goes
// unfiltered when that sample does. Smooth pictures keep their filters.
bool PngSink::unfilteredIsSmaller(libdeflate_compressor* compressor, const std::uint8_t* filtered) {
  const std::size_t rowBytes = width_ * 4, stride = rowBytes + 1;
  const std::size_t sampledRows = height_ / SampleStride * SampleRows + std::min(height_ % SampleStride, SampleRows);
  const std::size_t sampleSize = sampledRows * stride;
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor, sampleSize);
  std::uint8_t* chosen = buffers_->sample.data(2 * sampleSize + bound);
  std::uint8_t* unfiltered = chosen + sampleSize;
  std::uint8_t* out = unfiltered + sampleSize;
  std::size_t at = 0;
  for (std::size_t row = 0; row < height_; ++row) {
    if (row % SampleStride >= SampleRows) continue;
    std::copy_n(filtered + row * stride, stride, chosen + at);
    unfilteredRow(rgba_ + row * rowBytes, rowBytes, unfiltered + at);
    at += stride;
  }
  const std::size_t filteredBytes = libdeflate_zlib_compress(compressor, chosen, sampleSize, out, bound);
  const std::size_t unfilteredBytes = libdeflate_zlib_compress(compressor, unfiltered, sampleSize, out, bound);
  return unfilteredBytes != 0 && filteredBytes != 0 && unfilteredBytes < filteredBytes;
}

// Length, type, data, and the CRC of type and data.
void PngSink::writeChunk(const char* type, const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[8];
  putBe32(head, static_cast<std::uint32_t>(size));
  std::copy_n(type, 4, head + 4);
  std::uint8_t crc[4];
  std::uint32_t sum = libdeflate_crc32(0, head + 4, 4);
  // Given no buffer, libdeflate answers a fresh sum's start, 0, whatever the
  // running sum: an empty chunk (IEND) must not pass it one.
  if (size > 0) sum = libdeflate_crc32(sum, data, size);
  putBe32(crc, sum);
  output_->write(head, sizeof head);
  output_->write(data, size);
  output_->write(crc, sizeof crc);
}

bool PngSink::commit() {
  const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(level_));
  if (!compressor) return fail("not enough memory to write");
  const std::uint8_t* filtered = filteredImage(compressor.get());
  const std::size_t filteredSize = height_ * (width_ * 4 + 1);
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredSize);
  std::uint8_t* compressed = buffers_->compressed.data(bound);
  const std::size_t size = libdeflate_zlib_compress(compressor.get(), filtered, filteredSize, compressed, bound);
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
    writeChunk("IDAT", compressed + at, std::min(IdatChunkBytes, size - at));
  }
  writeChunk("IEND", nullptr, 0);
  if (!output_->commit()) return fail("writing failed (disk full or not writable)");
  return true;
}

}  // namespace Kvl

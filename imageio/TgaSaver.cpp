#include <algorithm>
#include <bit>
#include <new>
#include <vector>

#include "ImageLoader.h"
#include "ImageSaver.h"
#include "ReplacingFile.h"
#include "TgaDecoder.h"
#include "engine/Key.h"

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are written as their in-memory bytes: blue, green, red, alpha");

constexpr std::size_t ChunkPixels = 256 * 1024;  // 1 MiB of Pixel32 per pass
constexpr std::size_t DecodeBlockPixels = 4096;   // 16 KiB

// Decodes, keys and writes the picture a few rows at a time, so memory stays
// bounded whatever the picture's size. Rows come out bottom-up and left to
// right, however the source stored them.
class KeyedRowWriter {
public:
  KeyedRowWriter(const TgaHeader& header, ReplacingFile& output, KeyChannel channel,
                 const AlphaTable& levels)
      : header_(header), output_(output), channel_(channel), levels_(levels),
        width_(header.width), height_(header.height),
        rowsPerChunk_(std::max<std::size_t>(1, ChunkPixels / std::max<std::size_t>(1, width_))) {}

  void writeAll(TgaPixelDecoder& decoder, std::uint64_t pixelOffset) {
    if (width_ == 0 || height_ == 0) return;
    chunk_.resize(std::min(rowsPerChunk_, height_) * width_);  // no more than the picture
    decoded_.resize(std::min(DecodeBlockPixels, chunk_.size()));
    for (std::size_t firstRow = 0; firstRow < height_; firstRow += rowsPerChunk_) {
      const std::size_t rows = std::min(rowsPerChunk_, height_ - firstRow);
      keyChunk(decoder, rows);
      writeChunk(firstRow, rows, pixelOffset);
    }
  }

private:
  // A small block at a time, decoded into a buffer of its own and keyed
  // from there into the chunk, all within the first-level cache.
  void keyChunk(TgaPixelDecoder& decoder, std::size_t rows) {
    const std::size_t count = rows * width_;
    for (std::size_t start = 0; start < count; start += decoded_.size()) {
      const std::size_t n = std::min(decoded_.size(), count - start);
      decoder.decode(decoded_.data(), n);
      keyAndLevel(decoded_.data(), chunk_.data() + start, n, channel_, levels_);
    }
    if (header_.rightToLeft()) {
      for (std::size_t row = 0; row < rows; ++row) {
        std::reverse(chunk_.begin() + static_cast<std::ptrdiff_t>(row * width_),
                     chunk_.begin() + static_cast<std::ptrdiff_t>((row + 1) * width_));
      }
    }
  }

  // A top-to-bottom source fills the output from its last row backwards.
  void writeChunk(std::size_t firstRow, std::size_t rows, std::uint64_t pixelOffset) {
    const std::size_t rowBytes = width_ * sizeof(Pixel32);
    if (!header_.topToBottom()) {
      output_.write(chunk_.data(), rows * rowBytes);
      return;
    }
    for (std::size_t row = 0; row < rows / 2; ++row) {
      std::swap_ranges(chunk_.begin() + static_cast<std::ptrdiff_t>(row * width_),
                       chunk_.begin() + static_cast<std::ptrdiff_t>((row + 1) * width_),
                       chunk_.begin() + static_cast<std::ptrdiff_t>((rows - 1 - row) * width_));
    }
    const std::uint64_t lastOutputRow = height_ - firstRow - rows;
    output_.seek(pixelOffset + lastOutputRow * rowBytes);
    output_.write(chunk_.data(), rows * rowBytes);
  }

  const TgaHeader& header_;
  ReplacingFile& output_;
  KeyChannel channel_;
  const AlphaTable& levels_;
  std::size_t width_;
  std::size_t height_;
  std::size_t rowsPerChunk_;
  std::vector<Pixel32> decoded_;
  std::vector<Pixel32> chunk_;
};

}  // namespace

void buildKeyedTgaHeader(std::uint8_t* header, std::uint8_t idLength, std::uint16_t width,
                         std::uint16_t height) {
  std::fill_n(header, TgaHeaderSize, std::uint8_t{0});
  header[0] = idLength;
  header[2] = TgaTypeTrueColour;
  writeLe16(header + 12, width);
  writeLe16(header + 14, height);
  header[16] = 32;
  header[17] = 0;  // lower-left origin, no attribute-bit count
}

bool TgaSaver::save(const char* outputPath, const char* sourcePath, KeyChannel channel,
                    std::uint8_t contrast, std::uint8_t offset) {
  *this = TgaSaver{};
  try {
    FileByteSource source(sourcePath);
    if (!source.isOpen()) {
      sourceError_ = LoadError::CannotOpen;
      return fail(SaveError::SourceUnreadable);
    }
    sourceError_ = readTgaPreamble(source, header_);
    // The reader's refusal of a file far shorter than its picture holds here
    // too: it would otherwise make an output of gigabytes from a few bytes.
    if (sourceError_ == LoadError::None) sourceError_ = checkPixelDataPresent(source, header_);
    if (sourceError_ != LoadError::None) return fail(SaveError::SourceUnreadable);

    ReplacingFile output(outputPath == nullptr ? "" : outputPath);
    if (!output.open()) return fail(SaveError::CannotCreateOutput);
    std::uint8_t header[TgaHeaderSize];
    buildKeyedTgaHeader(header, header_.idLength, header_.width, header_.height);
    output.write(header, sizeof header);
    const std::vector<std::uint8_t> zeroId(header_.idLength, 0);
    output.write(zeroId.data(), zeroId.size());

    const AlphaTable levels = levelTable(contrast, offset);
    TgaPixelDecoder decoder(source, header_);
    KeyedRowWriter(header_, output, channel, levels).writeAll(decoder, TgaHeaderSize + header_.idLength);
    truncated_ = decoder.truncated();
    source.close();  // before the output replaces it, which may be the same file
    if (!output.commit()) return fail(SaveError::WriteFailed);
  } catch (const std::bad_alloc&) {
    return fail(SaveError::WriteFailed);
  }
  return true;
}

bool TgaSaver::fail(SaveError error) {
  error_ = error;
  return false;
}

std::string TgaSaver::describeError() const {
  switch (error_) {
    case SaveError::None: return "saved";
    case SaveError::SourceUnreadable: return describeLoadError(sourceError_, header_);
    case SaveError::CannotCreateOutput: return "cannot open for writing";
    case SaveError::WriteFailed: return "writing failed (disk full or not writable)";
  }
  return "unknown error";
}

}  // namespace Kvl

namespace Kvl {

bool writeTga32(const char* path, const Pixel32* pixels, std::uint16_t width, std::uint16_t height) {
  ReplacingFile output(path == nullptr ? "" : path);
  if (!output.open()) return false;
  std::uint8_t header[TgaHeaderSize];
  buildKeyedTgaHeader(header, 0, width, height);
  output.write(header, sizeof header);
  output.write(pixels, std::size_t{width} * height * sizeof(Pixel32));
  return output.commit();
}

}  // namespace Kvl

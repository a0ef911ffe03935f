#include "PictureSink.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "TgaFormat.h"

namespace Kvl {
namespace {

static_assert(std::endian::native == std::endian::little,
              "pixels are written as their in-memory bytes: blue, green, red, alpha");

constexpr std::size_t ChunkPixels = 256 * 1024;  // 1 MiB of Pixel32 per pass
constexpr std::size_t DecodeBlockPixels = 4096;   // 16 KiB

// Reads, keys and places the rows of one chunk. The chunk is kept bottom row
// first; a top-down source's rows are keyed into it from its end backwards.
// They are read a small block at a time into a buffer of their own and keyed
// from there, all within the first-level cache.
class ChunkKeyer {
public:
  ChunkKeyer(PictureSource& source, KeyChannel channel, const AlphaTable& levels, std::size_t rowsPerChunk)
      : source_(source), channel_(channel), levels_(levels), width_(source.width()),
        rowsPerBlock_(std::clamp<std::size_t>(DecodeBlockPixels / std::max<std::size_t>(1, width_), 1, rowsPerChunk)),
        block_(rowsPerBlock_ * width_) {}

  void keyChunk(Pixel32* chunk, std::size_t rows) {
    const bool topDown = source_.rowOrder() == RowOrder::TopDown;
    for (std::size_t done = 0; done < rows; done += rowsPerBlock_) {
      const std::size_t n = std::min(rowsPerBlock_, rows - done);
      source_.readRows(block_.data(), n);
      if (!topDown) {
        keyAndLevel(block_.data(), chunk + done * width_, n * width_, channel_, levels_);
        continue;
      }
      for (std::size_t row = 0; row < n; ++row) {
        keyAndLevel(block_.data() + row * width_, chunk + (rows - 1 - done - row) * width_, width_, channel_,
                    levels_);
      }
    }
  }

private:
  PictureSource& source_;
  KeyChannel channel_;
  const AlphaTable& levels_;
  std::size_t width_;
  std::size_t rowsPerBlock_;
  std::vector<Pixel32> block_;
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

bool TargaSink::open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder) {
  if (width > 0xFFFF || height > 0xFFFF) {
    return fail("a Targa file cannot hold a " + std::to_string(width) + " x " + std::to_string(height) +
                " picture; use --format png");
  }
  output_ = std::make_unique<ReplacingFile>(path);
  if (!output_->open()) return fail("cannot open for writing");
  std::uint8_t header[TgaHeaderSize];
  buildKeyedTgaHeader(header, idLength_, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
  output_->write(header, sizeof header);
  const std::vector<std::uint8_t> zeroId(idLength_, 0);
  output_->write(zeroId.data(), zeroId.size());
  rowBytes_ = width * sizeof(Pixel32);
  nextRow_ = 0;
  return true;
}

// Rows that do not follow the last ones written (a top-down source's, whose
// chunks come from the top) are written in place, seeking there first.
void TargaSink::writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) {
  if (firstRow != nextRow_) output_->seek(TgaHeaderSize + idLength_ + firstRow * rowBytes_);
  output_->write(rows, static_cast<std::size_t>(count * rowBytes_));
  nextRow_ = firstRow + count;
}

bool TargaSink::commit() {
  if (output_ == nullptr || !output_->commit()) return fail("writing failed (disk full or not writable)");
  return true;
}

void keyPicture(PictureSource& source, KeyChannel channel, const AlphaTable& levels, PictureSink& sink) {
  const std::size_t width = source.width();
  const std::size_t height = source.height();
  if (width == 0 || height == 0) return;
  const std::size_t rowsPerChunk = std::min(std::max<std::size_t>(1, ChunkPixels / width), height);
  std::vector<Pixel32> chunk(rowsPerChunk * width);  // no more than the picture
  ChunkKeyer keyer(source, channel, levels, rowsPerChunk);
  const bool topDown = source.rowOrder() == RowOrder::TopDown;
  for (std::size_t done = 0; done < height; done += rowsPerChunk) {
    const std::size_t rows = std::min(rowsPerChunk, height - done);
    keyer.keyChunk(chunk.data(), rows);
    sink.writeRows(topDown ? height - done - rows : done, chunk.data(), rows);
  }
}

namespace {

// A chunk of rows on its way through a RowKeyer: read into `in`, keyed into
// `out` (kept bottom row first, as sinks take rows).
struct RowChunk {
  std::vector<Pixel32> in, out;
  std::vector<RowJob> jobs;
  std::size_t rows = 0;
  std::size_t firstRow = 0;  // the chunk's bottom row, counted from the bottom

  RowChunk(std::size_t rowsPerChunk, std::size_t width)
      : in(rowsPerChunk * width), out(rowsPerChunk * width), jobs(rowsPerChunk) {}

  // Reads the next `count` rows of `source`, of which `done` have been read.
  void read(PictureSource& source, std::size_t done, std::size_t count) {
    const std::size_t width = source.width(), height = source.height();
    const bool topDown = source.rowOrder() == RowOrder::TopDown;
    rows = count;
    firstRow = topDown ? height - done - rows : done;
    source.readRows(in.data(), rows);
    for (std::size_t i = 0; i < rows; ++i) {
      const std::size_t inChunk = topDown ? rows - 1 - i : i;
      jobs[i] = {in.data() + i * width, out.data() + inChunk * width,
                 static_cast<std::uint32_t>(height - 1 - (firstRow + inChunk))};
    }
  }

  void write(PictureSink& sink) const { sink.writeRows(firstRow, out.data(), rows); }
};

// Sees a started chunk finished before its buffers go, also when reading or
// writing throws: the keyer's threads may still be at work on them.
class StartedRows {
public:
  explicit StartedRows(RowKeyer& keyer) : keyer_(keyer) {}
  ~StartedRows() {
    if (started_) keyer_.finishRows();
  }
  StartedRows(const StartedRows&) = delete;
  StartedRows& operator=(const StartedRows&) = delete;

  void start(const RowChunk& chunk) {
    keyer_.startRows(chunk.jobs.data(), chunk.rows);
    started_ = true;
  }
  void finish() {
    started_ = false;
    keyer_.finishRows();
  }

private:
  RowKeyer& keyer_;
  bool started_ = false;
};

}  // namespace

void keyPicture(PictureSource& source, RowKeyer& keyer, PictureSink& sink) {
  const std::size_t width = source.width();
  const std::size_t height = source.height();
  if (width == 0 || height == 0) return;
  const std::size_t rowsPerChunk = std::min(std::max<std::size_t>(1, ChunkPixels / width), height);
  RowChunk first(rowsPerChunk, width), second(rowsPerChunk, width);
  RowChunk* keying = &first;
  RowChunk* other = &second;  // the chunk keyed before, to be written; then the next
  bool otherIsKeyed = false;
  std::size_t done = std::min(rowsPerChunk, height);
  keying->read(source, 0, done);
  StartedRows started(keyer);
  for (;;) {
    started.start(*keying);
    if (otherIsKeyed) other->write(sink);
    const bool more = done < height;
    if (more) {
      const std::size_t rows = std::min(rowsPerChunk, height - done);
      other->read(source, done, rows);
      done += rows;
    }
    started.finish();
    if (!more) break;
    std::swap(keying, other);
    otherIsKeyed = true;
  }
  keying->write(sink);
}

}  // namespace Kvl

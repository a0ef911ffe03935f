#pragma once
// OpenEXR scan-line files of half samples in ZIP blocks, read and written a
// block at a time here instead of through the library's frame buffers: the
// library finds, checks and hands over each block's bytes (reading) or
// writes the header (writing); ExrZipCoder inflates and deflates them, and
// the halves become floats and back here, once each. The values are those
// the library gives and takes; every other file goes through the library.

#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DeepSamples.h"
#include "ExrZipBlocks.h"
#include "keying/DeepPixel.h"

namespace Kvl {

// The channels of a file, R, G, B and maybe A, in the order of their names
// (the order of the samples in a block) as the pixel's components.
struct ExrChannelOrder {
  std::vector<int> components;  // 0 red, 1 green, 2 blue, 3 alpha
  bool alpha = false;
};

class ExrHalfBlocks {
public:
  // Whether the file is one read here: scan lines, ZIP or ZIPS, nothing
  // but R, G, B and A, all half at full resolution, on a little-endian host.
  static bool canRead(const Imf::Header& header);

  ExrHalfBlocks(Imf::InputFile& file, const Imf::Header& header);

  // Row `row` (0 the top of the data window) as floats, alpha 1 where the
  // file has none. False, with the reason in `damage` unless it holds one
  // already, when the row's block is missing or damaged.
  bool readRow(std::uint64_t row, PixelF* out, std::string& damage);

private:
  bool load(std::uint64_t block, std::string& damage);

  Imf::InputFile& file_;
  ExrChannelOrder order_;
  std::uint32_t width_;
  std::uint64_t height_;
  int minY_;
  std::uint64_t linesPerBlock_;
  std::size_t lineSamples_;  // halves a line
  std::uint64_t loaded_ = UINT64_MAX;  // the block in `block_`
  bool loadedWell_ = false;
  std::vector<std::uint16_t> block_;  // the block's halves, as the file lays them out
  ExrZipCoder coder_;
};

class ExrHalfBlockWriter {
public:
  // Whether `header` is written here: ZIP, half R, G, B (and A), a data
  // window from the origin, on a little-endian host.
  static bool canWrite(const Imf::Header& header);

  // Writes the magic number, the header and room for the table of blocks
  // through `stream`, which writes to `output`. Throws as the library does
  // for a header it cannot write.
  ExrHalfBlockWriter(TrackedOutput& output, Imf::OStream& stream, const Imf::Header& header);

  void writeRow(const PixelF* row);
  std::uint64_t rowsWritten() const { return rows_; }
  // Writes the table of where each block begins; once every row is in.
  void finish();

private:
  void writeBlock();

  TrackedOutput& output_;
  ExrChannelOrder order_;
  std::uint32_t width_;
  std::uint64_t height_;
  std::size_t lineSamples_;  // halves a line
  std::uint64_t tableAt_ = 0;
  std::vector<std::uint64_t> blockAt_;
  std::uint64_t rows_ = 0;
  std::vector<std::uint16_t> block_;  // the block's halves, as the file lays them out
  ExrZipCoder coder_;
};

}  // namespace Kvl

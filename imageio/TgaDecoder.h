#pragma once
// Streaming decoder for Targa pixel data: hands out pixels in the order the
// file stores them, a few at a time, so that a caller never needs more than
// the rows it is working on. The Targa reader (TgaReader.h) reads through it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ByteSource.h"
#include "TgaFormat.h"
#include "keying/Pixel.h"

namespace Kvl {

// Reads the header, checks type and depth, and skips the image ID and any
// colour map, leaving `source` at the first byte of pixel data.
LoadError readTgaPreamble(ByteSource& source, TgaHeader& header);

class TgaPixelDecoder {
public:
  TgaPixelDecoder(ByteSource& source, const TgaHeader& header);

  // Writes the next `count` pixels in stored order, alpha 0. Pixels past the
  // end of the data are 0 and mark the file as truncated. A run-length
  // packet that reaches past the picture's last pixel is simply never
  // finished: its surplus is dropped.
  void decode(Pixel32* out, std::size_t count);
  // Moves past the next `count` pixels as decode would, without handing
  // them out; a file that ends among them is marked truncated all the same.
  // Uncompressed pixels are skipped in the source rather than read.
  void skip(std::uint64_t count);

  bool truncated() const { return truncated_; }

private:
  void decodeRaw(Pixel32* out, std::size_t count);
  void decodeRunLength(Pixel32* out, std::size_t count);
  void skipRaw(std::uint64_t bytes);
  void skipRunLength(std::uint64_t count);
  std::uint64_t skipWholePackets(std::uint64_t count);
  std::size_t copyBufferedPixels(Pixel32* out, std::size_t count);
  bool startPacket();
  bool ensureBuffered(std::size_t count);
  void fillMissing(Pixel32* out, std::size_t count);
  std::size_t buffered() const { return end_ - position_; }

  ByteSource& source_;
  std::size_t bytesPerPixel_;
  bool runLength_;
  bool truncated_ = false;
  bool exhausted_ = false;

  // Run-length state carries over from one decode call to the next.
  std::size_t runRemaining_ = 0;
  std::size_t rawRemaining_ = 0;
  Pixel32 runPixel_ = 0;

  std::vector<std::uint8_t> buffer_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
};

}  // namespace Kvl

#pragma once
// Where keyed rows go: a 32-bit Targa file (the window's Save As and the
// command line alike) or, on builds that have the library, a PNG file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "PictureSource.h"
#include "ReplacingFile.h"
#include "keying/Key.h"

namespace Kvl {

class PictureSink {
public:
  virtual ~PictureSink() = default;

  // Makes the output for a width x height picture whose rows arrive in
  // blocks in `order`. False, with failure() set, when the format cannot
  // hold the picture or the output cannot be made.
  virtual bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) = 0;
  // `count` rows, bottom row first, whose bottom row is the picture's row
  // `firstRow` counted from the bottom. Failures show at commit.
  virtual void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) = 0;
  // Puts the output in place of its target only when every byte was
  // written; on false the target is untouched and failure() says why.
  virtual bool commit() = 0;

  const std::string& failure() const { return failure_; }

protected:
  bool fail(std::string reason) {
    failure_ = std::move(reason);
    return false;
  }

private:
  std::string failure_;
};

// An uncompressed 32-bit Targa file: type 2, descriptor 0 (rows bottom-up),
// no colour map, a zero-filled image-ID field of `idLength` bytes.
class TargaSink final : public PictureSink {
public:
  explicit TargaSink(std::uint8_t idLength = 0) : idLength_(idLength) {}
  bool open(const std::string& path, std::uint64_t width, std::uint64_t height, RowOrder order) override;
  void writeRows(std::uint64_t firstRow, const Pixel32* rows, std::size_t count) override;
  bool commit() override;

private:
  std::uint8_t idLength_;
  std::uint64_t rowBytes_ = 0;
  std::uint64_t nextRow_ = 0;  // where the file position stands, in rows
  std::unique_ptr<ReplacingFile> output_;
};

// The 18-byte header of a keyed output: type 2, depth 32, descriptor 0.
void buildKeyedTgaHeader(std::uint8_t* header, std::uint8_t idLength, std::uint16_t width,
                         std::uint16_t height);

// Keys and levels every row of `source` into `sink`, a chunk of rows at a
// time, so memory stays bounded whatever the picture's size. The source is
// read from where it stands to its end. May throw std::bad_alloc.
void keyPicture(PictureSource& source, KeyChannel channel, const AlphaTable& levels, PictureSink& sink);

// One row to key: from `in` to `out`; `topRow` is its place in the picture
// counted from the top.
struct RowJob {
  const Pixel32* in;
  Pixel32* out;
  std::uint32_t topRow;
};

// A key that depends on where a row lies in the picture (the plate keyer's
// backdrop varies across it). Rows are independent of each other, so a
// keyer may share them out among threads, and key them while its caller
// reads and writes other rows.
class RowKeyer {
public:
  virtual ~RowKeyer() = default;
  // Starts keying `count` rows; other threads may work on them until
  // finishRows returns, so their buffers are left alone till then.
  virtual void startRows(const RowJob* rows, std::size_t count) = 0;
  // Keys what is left of the rows started, on the calling thread too, and
  // returns once every one of them is keyed.
  virtual void finishRows() = 0;
};

// keyPicture with such a key: a chunk of rows is read whole and handed to
// the keyer at once; while it is keyed, the chunk before it is written and
// the one after it read. The source is read, and the sink written, in order.
void keyPicture(PictureSource& source, RowKeyer& keyer, PictureSink& sink);

}  // namespace Kvl

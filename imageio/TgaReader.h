#pragma once
// The one Targa reader: everything that reads a Targa file (the whole-picture
// loader, Open's preview and the keyed writer) reads it through this.

#include <memory>
#include <string>

#include "ByteSource.h"
#include "PictureSource.h"
#include "TgaFormat.h"

namespace Kvl {

class TgaPixelDecoder;

// Rows come in the file's own vertical order (bottom-up, or top-down for a
// file whose origin is at the top), each left to right even when the file
// stores it mirrored.
class TgaReader final : public PictureSource {
public:
  TgaReader();
  ~TgaReader() override;

  // Reads the header, refuses what the program does not read (the type, the
  // depth, a large picture whose file holds far too little data), and skips
  // the image ID and any colour map. False with error() set.
  bool open(const char* path);
  // The same from bytes already in hand (tests, fuzzing); they must outlive
  // the reader. Such a reader cannot rewind.
  bool open(ByteSource& source);
  // Lets go of the file, e.g. before an output replaces it.
  void close();

  LoadError error() const { return error_; }
  PictureError failure() const { return targaError(error_, header_); }
  // The header as far as it was read.
  const TgaHeader& header() const { return header_; }

  void readRows(Pixel32* out, std::size_t rows) override;
  void skipRows(std::uint64_t rows) override;
  bool rewind() override;
  bool damaged() const override;
  std::uint8_t idLength() const override { return header_.idLength; }

private:
  bool start(ByteSource& source);
  bool fail(LoadError error);

  std::string path_;  // empty when reading bytes in hand
  std::unique_ptr<FileByteSource> file_;
  std::unique_ptr<TgaPixelDecoder> decoder_;
  LoadError error_ = LoadError::None;
  TgaHeader header_;
};

}  // namespace Kvl

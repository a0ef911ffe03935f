#include "TgaReader.h"

#include <algorithm>
#include <new>

#include "DeclaredSize.h"
#include "TgaDecoder.h"

namespace Kvl {

TgaReader::TgaReader() = default;
TgaReader::~TgaReader() = default;

bool TgaReader::open(const char* path) {
  path_ = path == nullptr ? "" : path;
  decoder_.reset();
  file_ = std::make_unique<FileByteSource>(path_.c_str());
  if (!file_->isOpen()) return fail(LoadError::CannotOpen);
  return start(*file_);
}

bool TgaReader::open(ByteSource& source) {
  path_.clear();
  file_.reset();
  decoder_.reset();
  return start(source);
}

bool TgaReader::start(ByteSource& source) {
  error_ = readTgaPreamble(source, header_);
  if (error_ != LoadError::None) return false;
  // A file far shorter than its picture is refused before anything is
  // allocated or written for it.
  if (!source.holds(requiredPixelDataBytes(header_))) return fail(LoadError::TooLittleData);
  try {
    decoder_ = std::make_unique<TgaPixelDecoder>(source, header_);
  } catch (const std::bad_alloc&) {
    return fail(LoadError::OutOfMemory);  // the decoder's input buffer
  }
  setShape(header_.width, header_.height, header_.topToBottom() ? RowOrder::TopDown : RowOrder::BottomUp);
  return true;
}

bool TgaReader::fail(LoadError error) {
  error_ = error;
  decoder_.reset();
  return false;
}

void TgaReader::close() {
  decoder_.reset();
  file_.reset();
}

void TgaReader::readRows(Pixel32* out, std::size_t rows) {
  const std::size_t rowLength = width();
  decoder_->decode(out, rows * rowLength);
  if (!header_.rightToLeft()) return;
  for (std::size_t row = 0; row < rows; ++row) {
    std::reverse(out + row * rowLength, out + (row + 1) * rowLength);
  }
}

void TgaReader::skipRows(std::uint64_t rows) { decoder_->skip(rows * width()); }

bool TgaReader::rewind() {
  if (path_.empty()) return false;
  const std::string path = path_;
  return open(path.c_str());
}

bool TgaReader::damaged() const { return decoder_ != nullptr && decoder_->truncated(); }

}  // namespace Kvl

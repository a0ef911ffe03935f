#include <new>

#include "ImageLoader.h"
#include "TgaReader.h"

namespace Kvl {

bool TgaLoader::load(const char* path) {
  TgaReader reader;
  const bool opened = reader.open(path);
  if (reader.error() == LoadError::CannotOpen) return fail(LoadError::CannotOpen);
  return loadThrough(reader, opened);
}

bool TgaLoader::loadFrom(ByteSource& source) {
  TgaReader reader;
  const bool opened = reader.open(source);
  return loadThrough(reader, opened);
}

// The header's fields are kept as far as they were read, also for a refused file.
bool TgaLoader::loadThrough(TgaReader& reader, bool opened) {
  header_ = reader.header();
  idLength = header_.idLength;
  imageType = header_.imageType;
  if (reader.error() == LoadError::TooShort) return fail(LoadError::TooShort);
  width = header_.width;
  height = header_.height;
  bitsPerPixel = header_.bitsPerPixel;
  if (!opened) return fail(reader.error());
  return placeRows(reader);
}

// Each row goes straight to its place, bottom row first, whichever end of
// the picture the file starts at.
bool TgaLoader::placeRows(TgaReader& reader) {
  const std::size_t count = addressablePixelCount(header_.width, header_.height);
  if (count == 0 && header_.pixelCount() != 0) return fail(LoadError::TooLarge);
  std::unique_ptr<Pixel32[]> decoded(new (std::nothrow) Pixel32[count]);
  if (!decoded) return fail(LoadError::OutOfMemory);
  const std::size_t rowLength = header_.width;
  const std::size_t rows = header_.height;
  if (reader.rowOrder() == RowOrder::BottomUp) {
    reader.readRows(decoded.get(), rows);
  } else {
    for (std::size_t row = rows; row > 0; --row) reader.readRows(decoded.get() + (row - 1) * rowLength, 1);
  }
  truncated_ = reader.damaged();
  pixels = std::move(decoded);
  error_ = LoadError::None;
  return true;
}

bool TgaLoader::fail(LoadError error) {
  error_ = error;
  return false;
}

}  // namespace Kvl

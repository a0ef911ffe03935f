#include <algorithm>
#include <limits>
#include <new>

#include "ImageLoader.h"
#include "TgaDecoder.h"

namespace Kvl {

std::size_t addressablePixelCount(std::uint64_t width, std::uint64_t height) {
  const std::uint64_t count = width * height;  // at most 65535 * 65535: no overflow
  const std::uint64_t limit = std::numeric_limits<std::size_t>::max() / sizeof(Pixel32);
  return count > limit ? 0 : static_cast<std::size_t>(count);
}

void reorientRows(Pixel32* pixels, std::int32_t width, std::int32_t height, const TgaHeader& header) {
  const auto rowLength = static_cast<std::size_t>(width);
  const auto rows = static_cast<std::size_t>(height);
  if (header.topToBottom()) {
    for (std::size_t top = 0, bottom = rows; top + 1 < bottom; ++top, --bottom) {
      std::swap_ranges(pixels + top * rowLength, pixels + (top + 1) * rowLength,
                       pixels + (bottom - 1) * rowLength);
    }
  }
  if (header.rightToLeft()) {
    for (std::size_t row = 0; row < rows; ++row) {
      std::reverse(pixels + row * rowLength, pixels + (row + 1) * rowLength);
    }
  }
}

bool TgaLoader::load(const char* path) {
  FileByteSource file(path);
  if (!file.isOpen()) return fail(LoadError::CannotOpen);
  return loadFrom(file);
}

bool TgaLoader::loadFrom(ByteSource& source) {
  const LoadError preamble = readTgaPreamble(source, header_);
  idLength = header_.idLength;
  imageType = header_.imageType;
  if (preamble == LoadError::TooShort) return fail(preamble);
  width = header_.width;
  height = header_.height;
  bitsPerPixel = header_.bitsPerPixel;
  if (preamble != LoadError::None) return fail(preamble);
  return decodePixels(source);
}

bool TgaLoader::decodePixels(ByteSource& source) {
  const std::size_t count = addressablePixelCount(header_.width, header_.height);
  if (count == 0 && header_.pixelCount() != 0) return fail(LoadError::TooLarge);
  std::unique_ptr<Pixel32[]> decoded(new (std::nothrow) Pixel32[count]);
  if (!decoded) return fail(LoadError::OutOfMemory);
  try {
    TgaPixelDecoder decoder(source, header_);
    decoder.decode(decoded.get(), count);
    truncated_ = decoder.truncated();
  } catch (const std::bad_alloc&) {
    return fail(LoadError::OutOfMemory);  // the decoder's input buffer
  }
  reorientRows(decoded.get(), width, height, header_);
  pixels = std::move(decoded);
  error_ = LoadError::None;
  return true;
}

bool TgaLoader::fail(LoadError error) {
  error_ = error;
  return false;
}

}  // namespace Kvl

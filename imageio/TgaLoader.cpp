#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>

#include "ImageLoader.h"
#include "TgaDecoder.h"

namespace Kvl {

std::uint64_t addressablePixelCount(std::uint64_t width, std::uint64_t height,
                                    std::uint64_t largestObjectBytes) {
  const std::uint64_t limit = largestObjectBytes / sizeof(Pixel32);
  // Divide rather than multiply: width x height may not fit in 64 bits.
  if (width != 0 && height > limit / width) return 0;
  return width * height;
}

std::size_t addressablePixelCount(std::uint64_t width, std::uint64_t height) {
  constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
  return static_cast<std::size_t>(addressablePixelCount(width, height, largest));
}

std::uint64_t smallestPixelDataBytes(const TgaHeader& header) {
  const std::uint64_t pixels = header.pixelCount();
  const std::uint64_t bytesPerPixel = header.bytesPerPixel();
  if (!header.runLengthEncoded()) return pixels * bytesPerPixel;
  constexpr std::uint64_t PixelsPerPacket = TgaPacketCountMask + 1u;
  return (pixels + PixelsPerPacket - 1) / PixelsPerPacket * (1 + bytesPerPixel);
}

std::uint64_t requiredDataBytes(std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes) {
  // Compared by division: a count from another format may be near 2^64 / 4.
  if (pixelCount <= AlwaysDecodedBytes / sizeof(Pixel32)) return 0;
  return (smallestEncodingBytes + RequiredDataShare - 1) / RequiredDataShare;
}

std::uint64_t requiredPixelDataBytes(const TgaHeader& header) {
  return requiredDataBytes(header.pixelCount(), smallestPixelDataBytes(header));
}

LoadError checkPixelDataPresent(ByteSource& source, const TgaHeader& header) {
  return source.holds(requiredPixelDataBytes(header)) ? LoadError::None : LoadError::TooLittleData;
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
  if (const LoadError data = checkPixelDataPresent(source, header_); data != LoadError::None) {
    return fail(data);
  }
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

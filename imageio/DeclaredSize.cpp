#include "DeclaredSize.h"

#include <limits>

#include "keying/Pixel.h"

namespace Kvl {
namespace {

constexpr std::uint64_t DeflateBestRatio = 1032;  // 258 bytes per two-bit match

std::uint64_t ceilDiv(std::uint64_t value, std::uint64_t divisor) {
  return value / divisor + (value % divisor != 0 ? 1 : 0);
}

}  // namespace

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

std::uint64_t requiredDataBytes(std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes) {
  // Compared by division: a count from another format may be near 2^64 / 4.
  if (pixelCount <= AlwaysDecodedBytes / sizeof(Pixel32)) return 0;
  return (smallestEncodingBytes + RequiredDataShare - 1) / RequiredDataShare;
}

std::uint64_t smallestPixelDataBytes(const TgaHeader& header) {
  const std::uint64_t pixels = header.pixelCount();
  const std::uint64_t bytesPerPixel = header.bytesPerPixel();
  if (!header.runLengthEncoded()) return pixels * bytesPerPixel;
  constexpr std::uint64_t PixelsPerPacket = TgaPacketCountMask + 1u;
  return (pixels + PixelsPerPacket - 1) / PixelsPerPacket * (1 + bytesPerPixel);
}

std::uint64_t requiredPixelDataBytes(const TgaHeader& header) {
  return requiredDataBytes(header.pixelCount(), smallestPixelDataBytes(header));
}

std::uint64_t smallestJpegBytes(std::uint64_t width, std::uint64_t height) {
  const std::uint64_t blocks = ceilDiv(width, 8) * ceilDiv(height, 8);  // each side below 2^16
  return ceilDiv(blocks * 2, 8);
}

std::uint64_t smallestPngBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel) {
  constexpr std::uint64_t Largest = std::numeric_limits<std::uint64_t>::max();
  if (width > Largest / 64) return Largest;  // wider than any PNG; keeps the row sum in range
  const std::uint64_t rowBytes = 1 + ceilDiv(width * bitsPerPixel, 8);
  if (height != 0 && rowBytes > Largest / height) return Largest;
  return ceilDiv(rowBytes * height, DeflateBestRatio);
}

}  // namespace Kvl

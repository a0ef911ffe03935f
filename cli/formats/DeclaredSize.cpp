#include "DeclaredSize.h"

#include <limits>

#include "imageio/ByteSource.h"
#include "imageio/ImageLoader.h"

namespace Kvl::Cli {
namespace {

constexpr std::uint64_t DeflateBestRatio = 1032;  // 258 bytes per two-bit match

std::uint64_t ceilDiv(std::uint64_t value, std::uint64_t divisor) {
  return value / divisor + (value % divisor != 0 ? 1 : 0);
}

}  // namespace

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

bool fileHoldsDataFor(const char* path, std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes) {
  const std::uint64_t required = requiredDataBytes(pixelCount, smallestEncodingBytes);
  if (required == 0) return true;
  FileByteSource file(path);
  return file.isOpen() && file.holds(required);
}

std::string tooLittleDataReason(std::uint64_t width, std::uint64_t height) {
  return "file holds far too little data for its declared size (" + std::to_string(width) + " x " +
         std::to_string(height) + ")";
}

}  // namespace Kvl::Cli

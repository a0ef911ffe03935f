#pragma once
// A Targa header alone can declare a picture of up to 16 MiB that the reader
// then zero-fills: correct, and the same code at every size, but each such
// input costs the fuzzer a hundred small ones, and left to itself it fills
// its corpus with them. The Targa targets step over accepted pictures above
// a size of their own; headers the reader would refuse for lack of data are
// still tried at every size.

#include <cstddef>
#include <cstdint>

#include "imageio/ImageLoader.h"

namespace Kvl::Fuzz {

inline bool isLargeAndAccepted(const std::uint8_t* data, std::size_t size, std::uint64_t largestPictureTried) {
  const TgaHeader header = parseTgaHeader(data, size);
  return header.pixelCount() > largestPictureTried && requiredPixelDataBytes(header) == 0;
}

}  // namespace Kvl::Fuzz

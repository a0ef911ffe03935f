// Any bytes through the picture input: the format is sniffed from the first
// bytes, then a PNG or JPEG picture is opened as keyvale-cli opens it. A
// picture that opens must hand out height rows of width pixels with alpha
// 0, again after a rewind; one that does not must say why.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "FuzzScratch.h"
#include "imageio/DeclaredSize.h"
#include "imageio/PictureFiles.h"

namespace {

std::uint64_t readBe16(const std::uint8_t* bytes) { return std::uint64_t{bytes[0]} << 8 | bytes[1]; }
std::uint64_t readBe32(const std::uint8_t* bytes) { return readBe16(bytes) << 16 | readBe16(bytes + 2); }

// As in the Targa targets: a picture the reader accepts is decoded in full
// however little of it the file holds, correct and the same code at every
// size, but a large one costs the fuzzer hundreds of small ones. Headers
// that the reader refuses for lack of data are still tried at every size.
constexpr std::uint64_t LargestPictureTried = std::uint64_t{1} << 20;

bool isLargeAndPlausible(std::uint64_t width, std::uint64_t height, std::uint64_t smallestBytes,
                         std::size_t size) {
  return width * height > LargestPictureTried && Kvl::requiredDataBytes(width * height, smallestBytes) <= size;
}

unsigned pngChannels(std::uint8_t colourType) {
  switch (colourType) {
    case 2: return 3;  // RGB
    case 4: return 2;  // grey + alpha
    case 6: return 4;  // RGBA
    default: return 1; // grey, palette
  }
}

bool isLargePlausiblePng(const std::uint8_t* data, std::size_t size) {
  if (size < 26) return false;
  const std::uint64_t width = readBe32(data + 16);
  const std::uint64_t height = readBe32(data + 20);
  const unsigned bitsPerPixel = data[24] * pngChannels(data[25]);
  return isLargeAndPlausible(width, height, Kvl::smallestPngBytes(width, height, bitsPerPixel), size);
}

// The JPEG reader steps over garbage between markers, so anything that looks
// like a start-of-frame marker anywhere may be the one it reads.
bool isLargePlausibleJpeg(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 9 <= size; ++at) {
    const std::uint8_t marker = data[at + 1];
    const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (data[at] != 0xFF || !startOfFrame) continue;
    const std::uint64_t height = readBe16(data + at + 5);
    const std::uint64_t width = readBe16(data + at + 7);
    if (isLargeAndPlausible(width, height, Kvl::smallestJpegBytes(width, height), size)) return true;
  }
  return false;
}

bool isLargeAndAccepted(const std::uint8_t* data, std::size_t size) {
  if (size >= 2 && data[0] == 0x89 && data[1] == 'P') return isLargePlausiblePng(data, size);
  return isLargePlausibleJpeg(data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (isLargeAndAccepted(data, size)) return 0;
  static const Kvl::Fuzz::Scratch scratch;
  static const std::string path = scratch.file("picture");
  Kvl::Fuzz::writeWholeFile(path, data, size);

  const Kvl::PictureFormat format = Kvl::sniffPictureFormat(path);
  // Everything without a PNG or JPEG signature goes to the Targa reader,
  // which has targets of its own: here the fuzzer spends its time on PNG and JPEG.
  if (format == Kvl::PictureFormat::Targa) return 0;
  // JPEG colour upsampled both ways: the plate keyer's luma-guided reading
  // for inputs whose last byte is odd (it lies past the end marker, where
  // libjpeg reads nothing).
  const bool guided = size > 0 && (data[size - 1] & 1) != 0;
  Kvl::PictureError error;
  const std::unique_ptr<Kvl::PictureSource> picture = Kvl::openPicture(
      path, format, error, guided ? Kvl::ChromaUpsampling::LumaGuided : Kvl::ChromaUpsampling::Smooth);
  if (!picture) {
    if (error.ok() || Kvl::describe(error).empty()) std::abort();
    return 0;
  }
  std::vector<Kvl::Pixel32> row(picture->width());
  for (std::uint32_t y = 0; y < picture->height(); ++y) {
    if (y == 1 && !picture->rewind()) std::abort();  // the second row comes from the start again
    picture->readRows(row.data(), 1);
    for (const Kvl::Pixel32 pixel : row) {
      if (Kvl::alphaOf(pixel) != 0) std::abort();
    }
  }
  return 0;
}

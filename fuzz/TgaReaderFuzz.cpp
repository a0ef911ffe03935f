// Any bytes through the Targa reader. A load must either refuse with a
// reason and no pixels, or hand over exactly width x height pixels, every
// alpha 0; the sanitizers catch any read or write outside a buffer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "LargePictures.h"
#include "imageio/ImageLoader.h"

namespace {

bool holdsTheDeclaredPicture(const Kvl::TgaLoader& loader) {
  const Kvl::TgaHeader& header = loader.header();
  if (loader.width != header.width || loader.height != header.height) return false;
  if (loader.bitsPerPixel != 24 && loader.bitsPerPixel != 32) return false;
  if (!loader.pixels) return false;
  const std::size_t count = std::size_t{header.width} * header.height;
  for (std::size_t i = 0; i < count; ++i) {
    if (Kvl::alphaOf(loader.pixels[i]) != 0) return false;
  }
  return true;
}

// Accepted pictures of up to 64 K pixels (see LargePictures.h).
constexpr std::uint64_t LargestPictureTried = std::uint64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (Kvl::Fuzz::isLargeAndAccepted(data, size, LargestPictureTried)) return 0;
  Kvl::TgaLoader loader;
  Kvl::MemoryByteSource source(std::span<const std::uint8_t>(data, size));
  const bool loaded = loader.loadFrom(source);
  const bool consistent = loaded ? loader.error() == Kvl::LoadError::None && holdsTheDeclaredPicture(loader)
                                 : loader.error() != Kvl::LoadError::None && !loader.pixels;
  if (!consistent) std::abort();
  // Every reason must have words for the command line.
  if (Kvl::describe(Kvl::targaError(loader.error(), loader.header())).empty()) std::abort();
  return 0;
}

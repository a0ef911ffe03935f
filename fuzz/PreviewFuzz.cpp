// Any bytes through the two ways a picture reaches the 240 x 160 preview:
// the streaming preview read, which decodes only the rows it samples and
// steps over the rest, and the whole picture read and resampled. They must
// refuse the same files for the same reason, report the same truncation and
// give the same preview, sample for sample.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "LargePictures.h"
#include "engine/PreviewWorkspace.h"
#include "imageio/ImageLoader.h"

namespace {

// Accepted pictures of up to 64 K pixels (see LargePictures.h).
constexpr std::uint64_t LargestPictureTried = std::uint64_t{1} << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (Kvl::Fuzz::isLargeAndAccepted(data, size, LargestPictureTried)) return 0;
  static Kvl::PreviewWorkspace streamed;
  static Kvl::PreviewWorkspace whole;

  Kvl::MemoryByteSource streamBytes(std::span<const std::uint8_t>(data, size));
  const Kvl::PreviewRead read = streamed.processor().readPreviewFrom(streamBytes);
  Kvl::TgaLoader loader;
  Kvl::MemoryByteSource wholeBytes(std::span<const std::uint8_t>(data, size));
  const bool loaded = loader.loadFrom(wholeBytes);

  if (read.ok() != loaded || read.error != loader.error()) std::abort();
  if (!loaded) return 0;
  if (read.truncated != loader.truncated()) std::abort();
  if (loader.width == 0 || loader.height == 0) return 0;  // nothing sampled either way
  whole.processor().resampleToPreview(loader);
  const std::size_t bytes = Kvl::PreviewPixelCount * sizeof(Kvl::Pixel32);
  if (std::memcmp(streamed.previewSource(), whole.previewSource(), bytes) != 0) std::abort();
  return 0;
}

// Any bytes through the command line's picture input: the format is sniffed
// from the first bytes, then PNG, JPEG or Targa is read as keyvale-cli reads
// it. A picture that loads must hold width x height pixels with alpha 0; one
// that does not must say why.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzScratch.h"
#include "cli/formats/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Kvl::Fuzz::Scratch scratch;
  static const std::string path = scratch.file("picture");
  Kvl::Fuzz::writeWholeFile(path, data, size);

  const Kvl::Cli::PictureFormat format = Kvl::Cli::sniffPictureFormat(path);
  const Kvl::Cli::LoadedPicture picture = Kvl::Cli::loadPicture(path, format);
  if (!picture.ok()) {
    if (picture.error.empty()) std::abort();
    return 0;
  }
  const Kvl::ImageLoader& image = *picture.image;
  if (image.width < 0 || image.height < 0) std::abort();
  const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  if (count > 0 && !image.pixels) std::abort();
  for (std::size_t i = 0; i < count; ++i) {
    if (Kvl::alphaOf(image.pixels[i]) != 0) std::abort();
  }
  return 0;
}

// Any bytes through the command line's picture input: the format is sniffed
// from the first bytes, then a PNG or JPEG picture is read as keyvale-cli
// reads it. A picture that loads must hold width x height pixels with alpha
// 0; one that does not must say why.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzScratch.h"
#include "cli/formats/Picture.h"

namespace {

std::uint64_t readBe16(const std::uint8_t* bytes) { return std::uint64_t{bytes[0]} << 8 | bytes[1]; }
std::uint64_t readBe32(const std::uint8_t* bytes) { return readBe16(bytes) << 16 | readBe16(bytes + 2); }

// Width x height from a PNG's IHDR, or the largest that anything looking like
// a JPEG start-of-frame marker declares (the JPEG reader steps over garbage
// between markers, so every position counts); 0 when the bytes do not say.
std::uint64_t declaredPixels(const std::uint8_t* data, std::size_t size) {
  if (size >= 24 && data[0] == 0x89 && data[1] == 'P') return readBe32(data + 16) * readBe32(data + 20);
  std::uint64_t largest = 0;
  for (std::size_t at = 0; at + 9 <= size; ++at) {
    const std::uint8_t marker = data[at + 1];
    const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (data[at] == 0xFF && startOfFrame) largest = std::max(largest, readBe16(data + at + 5) * readBe16(data + at + 7));
  }
  return largest;
}

// KEYVALE_FUZZ_MAX_PICTURE_PIXELS, when set, skips inputs that declare more
// pixels: a long run can then go past a known fault with huge declared sizes
// (see fuzz/README.md) and look for others. Unset, nothing is skipped.
bool declaresMoreThanAllowed(const std::uint8_t* data, std::size_t size) {
  static const char* const limit = std::getenv("KEYVALE_FUZZ_MAX_PICTURE_PIXELS");
  return limit != nullptr && declaredPixels(data, size) > std::strtoull(limit, nullptr, 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (declaresMoreThanAllowed(data, size)) return 0;
  static const Kvl::Fuzz::Scratch scratch;
  static const std::string path = scratch.file("picture");
  Kvl::Fuzz::writeWholeFile(path, data, size);

  const Kvl::Cli::PictureFormat format = Kvl::Cli::sniffPictureFormat(path);
  // Everything without a PNG or JPEG signature goes to the Targa reader,
  // which has targets of its own: here the fuzzer spends its time on PNG and JPEG.
  if (format == Kvl::Cli::PictureFormat::Targa) return 0;
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

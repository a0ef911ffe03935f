// Any bytes through a deep picture reader (OpenEXR or TIFF, chosen when
// built: KEYVALE_FUZZ_FORMAT). A picture that opens must hand out height
// rows of width pixels, mark damage with a reason, read the same again
// after a rewind, and write back through its format's writer; one that
// does not open must say why.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzScratch.h"
#include "imageio/DeepPicture.h"

namespace {

// A picture the reader accepts is read in full however little of it the
// file holds: correct, but a large one costs the fuzzer hundreds of small ones.
constexpr std::uint64_t LargestPictureRead = std::uint64_t{1} << 18;
// Compressing a picture back costs more again: only small ones are written.
constexpr std::uint64_t LargestPictureWritten = std::uint64_t{1} << 12;

constexpr Kvl::DeepFormat Format = Kvl::DeepFormat::KEYVALE_FUZZ_FORMAT;

bool sameBits(const std::vector<Kvl::PixelF>& a, const std::vector<Kvl::PixelF>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Kvl::PixelF)) == 0;
}

std::vector<Kvl::PixelF> readAll(Kvl::DeepPictureSource& source) {
  std::vector<Kvl::PixelF> pixels(std::size_t{source.width()} * source.height());
  for (std::uint32_t y = 0; y < source.height(); ++y) source.readRows(pixels.data() + std::size_t{y} * source.width(), 1);
  return pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Kvl::Fuzz::Scratch scratch;
  const std::string path = scratch.file("input");
  Kvl::Fuzz::writeWholeFile(path, data, size);
  std::string error;
  const std::unique_ptr<Kvl::DeepPictureSource> source = Kvl::openDeepPicture(path, Format, error);
  if (!source) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (source->width() == 0 || source->height() == 0) std::abort();
  if (std::uint64_t{source->width()} * source->height() > LargestPictureRead) return 0;
  const std::vector<Kvl::PixelF> first = readAll(*source);
  if (source->damaged() && source->damage().empty()) std::abort();
  if (!source->rewind()) return 0;
  const std::vector<Kvl::PixelF> second = readAll(*source);
  if (!source->damaged() && !sameBits(first, second)) std::abort();  // NaNs compare by their bits
  if (std::uint64_t{source->width()} * source->height() > LargestPictureWritten) return 0;
  const std::unique_ptr<Kvl::DeepPictureSink> sink = Kvl::makeDeepSink(Format);
  if (sink && sink->open(scratch.file("output"), source->width(), source->height(), source->layout())) {
    sink->writeRows(first.data(), source->height());
    if (!sink->commit() && sink->failure().empty()) std::abort();
  }
  return 0;
}

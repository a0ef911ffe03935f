// Any bytes through the clip reader, as keyvale-cli opens a clip: a file
// that opens must hand out frames of the size it declares with alpha 0,
// 8-bit ones and deep ones (through 16-bit RGBA, values 0..1) in turn, a
// deep clip's first frame deep, so that both converters meet every stream,
// and count what it lost without claiming more lost frames than it declares;
// one that does not open must say why. Each clip then goes the way the
// automatic settings take: read up to the reference frame a second in, and
// the setting chosen from it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzScratch.h"
#include "cli/ClipKeying.h"
#include "video/VideoFiles.h"
#ifdef KEYVALE_HAVE_VIDEO
#include "video/FfmpegVideo.h"
#endif

namespace {

// A clip of thousands of tiny frames is as good a test as one of a few and
// costs the fuzzer far more; the reader's bounds are the same either way.
constexpr int MostFramesRead = 64;

void check(bool condition) {
  if (!condition) std::abort();
}

bool inUnitRange(float value) { return value >= 0.0f && value <= 1.0f; }

// The next frame, deep or 8-bit; false at the end.
bool readAndCheckFrame(Kvl::ClipReader& reader, bool deep) {
  const Kvl::ClipInfo& info = reader.info();
  const std::size_t pixels = std::size_t{info.width} * info.height;
  if (deep) {
    static std::vector<Kvl::PixelF> frame;
    if (!reader.readDeepFrame(frame)) return false;
    check(frame.size() == pixels);
    for (const Kvl::PixelF& pixel : frame) {
      check(inUnitRange(pixel.red) && inUnitRange(pixel.green) && inUnitRange(pixel.blue) && pixel.alpha == 0.0f);
    }
    return true;
  }
  static std::vector<Kvl::Pixel32> frame;
  if (!reader.readFrame(frame)) return false;
  check(frame.size() == pixels);
  for (const Kvl::Pixel32 pixel : frame) check(Kvl::alphaOf(pixel) == 0);
  return true;
}

}  // namespace

#ifdef KEYVALE_HAVE_VIDEO
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Kvl::useVideoBackend(Kvl::ffmpegVideoBackend());
  return 0;
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Kvl::Fuzz::Scratch scratch;
  static const std::string path = scratch.file("clip");
  Kvl::Fuzz::writeWholeFile(path, data, size);
  std::string error;
  const std::unique_ptr<Kvl::ClipReader> reader = Kvl::ClipReader::open(path, error);
  if (!reader) {
    check(!error.empty());
    return 0;
  }
  const Kvl::ClipInfo& info = reader->info();
  check(info.width > 0 && info.height > 0 && info.width <= Kvl::MaximumClipSide && info.height <= Kvl::MaximumClipSide);
  const bool deepFirst = info.bitsPerSample > 8;
  for (int i = 0; i < MostFramesRead && readAndCheckFrame(*reader, (i % 2 == 0) == deepFirst); ++i) {
  }
  check(reader->loss().frames >= 0);
  Kvl::KeyingRequest automatic;
  automatic.classic = Kvl::SettingsRequest::automatic();
  const std::optional<Kvl::Keying> chosen = Kvl::Cli::chooseFromClip(path, automatic, std::nullopt, error);
  check(chosen.has_value() || !error.empty());
  return 0;
}

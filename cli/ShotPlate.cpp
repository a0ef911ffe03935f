#include "ShotPlate.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>

#include "Background.h"
#include "FrameSequence.h"
#include "imageio/PathText.h"
#include "imageio/PictureSink.h"
#include "keying/CleanPlate.h"
#include "video/VideoFiles.h"

namespace Kvl::Cli {
namespace {

struct Frames {
  std::vector<std::vector<Pixel32>> pixels;
  std::uint32_t width = 0, height = 0;
};

void reportError(std::ostream& err, const std::string& path, const std::string& reason) {
  err << "keyvale-cli: " << path << ": " << reason << '\n';
}

// Why frame `missing` of a clip was not read, `decoded` frames in: one the
// clip declares was lost (the clip is cut short or damaged), or there is none.
std::string missingFrameReason(const char* option, long missing, long decoded, std::int64_t declared) {
  if (missing < declared) {
    return std::string(option) + ": frame " + std::to_string(missing) + " cannot be decoded (the clip declares " +
           std::to_string(declared) + ", " + std::to_string(decoded) + " decode): it is cut short or damaged";
  }
  return std::string(option) + ": the clip has no frame " + std::to_string(missing) + " (frames count from 0)";
}

// The frames `wanted` (indices counted from 0, rising) of a clip, for `option`.
// With `upToTheEnd`, a clip that ends sooner than it said gives the frames
// it has: the count a container declares is often an estimate from its
// duration, one or two over, and frames spread over a shot lose nothing
// by the last one or two.
std::optional<Frames> readClipFrames(const std::string& path, const std::vector<long>& wanted, const char* option,
                                     bool upToTheEnd, std::ostream& err) {
  std::string error;
  const std::unique_ptr<ClipReader> reader = ClipReader::open(path, error);
  if (!reader) {
    reportError(err, path, error);
    return std::nullopt;
  }
  Frames frames{{}, reader->info().width, reader->info().height};
  std::vector<Pixel32> frame;
  std::size_t next = 0;
  long index = 0;
  for (; next < wanted.size() && reader->readFrame(frame); ++index) {
    if (index == wanted[next]) {
      frames.pixels.push_back(frame);
      ++next;
    }
  }
  if (next < wanted.size() && !(upToTheEnd && next > 0)) {
    reportError(err, path, missingFrameReason(option, wanted[next], index, reader->info().declaredFrames));
    return std::nullopt;
  }
  return frames;
}

// The frames numbered `wanted` of a sequence, read as the plate keyer reads them.
std::optional<Frames> readSequenceFrames(const std::string& pattern, const std::vector<long>& wanted,
                                         std::ostream& err) {
  Frames frames;
  const FramePattern names = *parseFramePattern(pattern);
  for (const long number : wanted) {
    const std::string path = framePath(names, number);
    std::uint32_t width = 0, height = 0;
    std::string error;
    auto pixels = readWholePicture(path, width, height, error, ChromaUpsampling::LumaGuided);
    if (pixels && !frames.pixels.empty() && (width != frames.width || height != frames.height)) {
      error = "not of the size of the other --clean-plate-frames";
      pixels.reset();
    }
    if (!pixels) {
      reportError(err, path, error);
      return std::nullopt;
    }
    frames.width = width, frames.height = height;
    frames.pixels.push_back(std::move(*pixels));
  }
  return frames;
}

// How many frames a clip has: what it declares, else counted by reading it.
std::optional<long> clipLength(const std::string& path, std::ostream& err) {
  std::string error;
  const std::unique_ptr<ClipReader> reader = ClipReader::open(path, error);
  if (!reader) {
    reportError(err, path, error);
    return std::nullopt;
  }
  if (reader->info().declaredFrames > 0) return static_cast<long>(reader->info().declaredFrames);
  std::vector<Pixel32> frame;
  long frames = 0;
  while (reader->readFrame(frame)) ++frames;
  if (frames == 0) reportError(err, path, "no frame of the clip can be decoded");
  return frames > 0 ? std::optional<long>(frames) : std::nullopt;
}

// The frames the plate is made from: spread over the clip or the range.
std::optional<Frames> shotFrames(const Command& command, std::ostream& err) {
  const std::string& input = command.inputs.front();
  FrameRange range;
  if (command.sequence()) {
    range = *command.frames;
  } else {
    const std::optional<long> length = clipLength(input, err);
    if (!length) return std::nullopt;
    range = {0, *length - 1, 1};
  }
  std::vector<long> chosen = range.frames();
  if (chosen.size() > MostShotFrames) {
    std::vector<long> spread;
    for (std::size_t i = 0; i < MostShotFrames; ++i) spread.push_back(chosen[i * (chosen.size() - 1) / (MostShotFrames - 1)]);
    chosen = spread;
  }
  return command.sequence() ? readSequenceFrames(input, chosen, err)
                            : readClipFrames(input, chosen, "--clean-plate-from-shot", true, err);
}

// The fitted backdrop's colour at every pixel, for the pixels no frame shows.
std::vector<Pixel32> fittedBackdrop(const PlateSettings& setting, std::uint32_t width, std::uint32_t height) {
  PlateSettings model = setting;
  model.cleanPlate.reset();
  PlateKeyer keyer(model, width, height);
  std::vector<Pixel32> pixels(std::size_t{width} * height);
  const auto level = [](float v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f); };
  for (std::uint32_t y = 0; y < height; ++y) {
    const float* b = keyer.backdropOf(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      pixels[std::size_t{y} * width + x] = makePixel(level(b[x]), level(b[width + x]), level(b[2 * std::size_t{width} + x]));
    }
  }
  return pixels;
}

bool writePlate(const std::string& path, const std::vector<Pixel32>& pixels, std::uint32_t width,
                std::uint32_t height, std::ostream& err) {
  TargaSink sink;
  if (!sink.open(path, width, height, RowOrder::TopDown)) {
    reportError(err, path, sink.failure());
    return false;
  }
  for (std::uint32_t y = height; y-- > 0;) sink.writeRows(y, pixels.data() + std::size_t{height - 1 - y} * width, 1);
  if (sink.commit()) return true;
  reportError(err, path, sink.failure());
  return false;
}

}  // namespace

std::vector<std::uint8_t> surelyBackdrop(const std::vector<Pixel32>& keyed, std::uint32_t width,
                                         std::uint32_t height) {
  constexpr std::uint32_t Reach = 2;
  // A pixel's own mark: 2 keyed nearly clear, 1 less than half opaque, 0 else.
  auto markOf = [](Pixel32 p) -> std::uint8_t { return alphaOf(p) < 32 ? 2 : alphaOf(p) < 128 ? 1 : 0; };
  std::vector<std::uint8_t> across(keyed.size()), sure(keyed.size());
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t least = 2;
      for (std::uint32_t i = x > Reach ? x - Reach : 0; i <= std::min(width - 1, x + Reach); ++i) {
        least = std::min(least, markOf(keyed[std::size_t{y} * width + i]));
      }
      across[std::size_t{y} * width + x] = least;
    }
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t least = 2;
      for (std::uint32_t j = y > Reach ? y - Reach : 0; j <= std::min(height - 1, y + Reach); ++j) {
        least = std::min(least, across[std::size_t{j} * width + x]);
      }
      sure[std::size_t{y} * width + x] = least;
    }
  }
  return sure;
}

std::vector<long> cleanPlateFrameChoice(const FrameRange& range) {
  const std::vector<long> all = range.frames();
  if (all.size() <= MostCleanPlateFrames) return all;
  std::vector<long> chosen;
  for (std::size_t i = 0; i < MostCleanPlateFrames; ++i) chosen.push_back(all[i * (all.size() - 1) / (MostCleanPlateFrames - 1)]);
  return chosen;
}

std::string cleanPlatePathFor(const std::string& settingsOut) {
  std::filesystem::path path = pathOf(settingsOut);
  path.replace_extension(".clean-plate.tga");
  return textOf(path);
}

namespace {

// Writes the plate beside the setting file when one is to be written; the
// name it has there (or nothing) in `file`.
bool placePlate(const Command& command, const std::vector<Pixel32>& median, std::uint32_t width,
                std::uint32_t height, std::string& file, std::ostream& err) {
  if (command.settingsOutFile.empty()) return true;
  const std::string path = cleanPlatePathFor(command.settingsOutFile);
  if (!writePlate(path, median, width, height, err)) return false;
  std::error_code failed;
  const auto absolute = std::filesystem::absolute(pathOf(path), failed);
  file = failed ? path : textOf(absolute);
  return true;
}

}  // namespace

bool addCleanPlateFromShot(const Command& command, Keying& keying, int threads, std::ostream& err) {
  try {
    const std::optional<Frames> frames = shotFrames(command, err);
    if (!frames) return false;
    std::vector<std::vector<std::uint8_t>> backdrop;
    for (const std::vector<Pixel32>& frame : frames->pixels) {
      std::vector<Pixel32> keyed = frame;
      keyFrame(keyed.data(), frames->width, frames->height, keying, threads);
      backdrop.push_back(surelyBackdrop(keyed, frames->width, frames->height));
    }
    std::vector<Pixel32> median = backdropMedianOfFrames(
        frames->pixels, backdrop, fittedBackdrop(keying.plate, frames->width, frames->height), frames->width,
        frames->height);
    std::string file;
    if (!placePlate(command, median, frames->width, frames->height, file, err)) return false;
    keying.plate.cleanPlateFile = file;
    keying.plate.cleanPlate =
        std::make_shared<const CleanPlate>(smoothedCleanPlate(std::move(median), frames->width, frames->height));
    return true;
  } catch (const std::bad_alloc&) {
    reportError(err, command.inputs.front(), "not enough memory for --clean-plate-from-shot");
    return false;
  }
}

bool addShotCleanPlate(const Command& command, KeyingRequest& request, std::ostream& err) {
  const std::vector<long> wanted = cleanPlateFrameChoice(*command.cleanPlateFrames);
  const std::string& input = command.inputs.front();
  try {
    const std::optional<Frames> frames =
        command.sequence() ? readSequenceFrames(input, wanted, err)
                            : readClipFrames(input, wanted, "--clean-plate-frames", false, err);
    if (!frames) return false;
    std::vector<Pixel32> median = medianOfFrames(frames->pixels, frames->width, frames->height);
    if (!placePlate(command, median, frames->width, frames->height, request.cleanPlateFile, err)) return false;
    request.cleanPlate =
        std::make_shared<const CleanPlate>(smoothedCleanPlate(std::move(median), frames->width, frames->height));
    return true;
  } catch (const std::bad_alloc&) {
    reportError(err, input, "not enough memory for the --clean-plate-frames");
    return false;
  }
}

}  // namespace Kvl::Cli

#include "ShotPlate.h"

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

// The frames `wanted` (indices counted from 0, rising) of a clip.
std::optional<Frames> readClipFrames(const std::string& path, const std::vector<long>& wanted, std::ostream& err) {
  std::string error;
  const std::unique_ptr<ClipReader> reader = ClipReader::open(path, error);
  if (!reader) {
    reportError(err, path, error);
    return std::nullopt;
  }
  Frames frames{{}, reader->info().width, reader->info().height};
  std::vector<Pixel32> frame;
  std::size_t next = 0;
  for (long index = 0; next < wanted.size() && reader->readFrame(frame); ++index) {
    if (index == wanted[next]) {
      frames.pixels.push_back(frame);
      ++next;
    }
  }
  if (next < wanted.size()) {
    reportError(err, path, "--clean-plate-frames: the clip has no frame " + std::to_string(wanted[next]) +
                               " (frames count from 0)");
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

bool addShotCleanPlate(const Command& command, KeyingRequest& request, std::ostream& err) {
  const std::vector<long> wanted = cleanPlateFrameChoice(*command.cleanPlateFrames);
  const std::string& input = command.inputs.front();
  try {
    const std::optional<Frames> frames =
        command.sequence() ? readSequenceFrames(input, wanted, err) : readClipFrames(input, wanted, err);
    if (!frames) return false;
    std::vector<Pixel32> median = medianOfFrames(frames->pixels, frames->width, frames->height);
    if (!command.settingsOutFile.empty()) {
      const std::string path = cleanPlatePathFor(command.settingsOutFile);
      if (!writePlate(path, median, frames->width, frames->height, err)) return false;
      std::error_code failed;
      const auto absolute = std::filesystem::absolute(pathOf(path), failed);
      request.cleanPlateFile = failed ? path : textOf(absolute);
    }
    request.cleanPlate =
        std::make_shared<const CleanPlate>(smoothedCleanPlate(std::move(median), frames->width, frames->height));
    return true;
  } catch (const std::bad_alloc&) {
    reportError(err, input, "not enough memory for the --clean-plate-frames");
    return false;
  }
}

}  // namespace Kvl::Cli

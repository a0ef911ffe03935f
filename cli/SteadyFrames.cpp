#include "SteadyFrames.h"

#include <optional>

#include "Background.h"

namespace Kvl::Cli {

void SteadyClip::keyFrame(std::vector<Pixel32>& frame, std::uint32_t width, std::uint32_t height,
                          const Keying& keying, int threads, bool steadied) {
  if (keying.keyer != KeyerKind::Plate) {
    Kvl::keyFrame(frame.data(), width, height, keying, threads);
    return;
  }
  const std::vector<Pixel32> plate = frame;
  Kvl::keyFrame(frame.data(), width, height, keying, threads);
  KeyedFrame keyed = keyedFrameOf(plate.data(), frame.data(), width, height);
  std::vector<const KeyedFrame*> earlier;
  for (const KeyedFrame& before : earlier_) earlier.push_back(&before);
  if (steadied) steadyMatte(plate.data(), frame.data(), width, height, earlier, keying.plate);
  earlier_.push_front(std::move(keyed));
  if (earlier_.size() > SteadyWindow) earlier_.pop_back();
}

std::vector<std::string> earlierFrameInputs(const FramePattern& pattern, const FrameRange& range, long frame) {
  std::vector<std::string> inputs;
  for (long k = 1; k <= SteadyWindow && frame - k * range.step >= range.first; ++k) {
    inputs.push_back(framePath(pattern, frame - k * range.step));
  }
  return inputs;
}

namespace {

// A picture of the sequence as the plate keyer reads it, whole, top row first.
std::optional<std::vector<Pixel32>> readFrame(const std::string& path, std::uint32_t width, std::uint32_t height,
                                              std::string& error) {
  std::uint32_t frameWidth = 0, frameHeight = 0;
  auto pixels = readWholePicture(path, frameWidth, frameHeight, error, ChromaUpsampling::LumaGuided);
  if (pixels && (frameWidth != width || frameHeight != height)) {
    error = std::to_string(frameWidth) + "x" + std::to_string(frameHeight) + ", not " + std::to_string(width) +
            "x" + std::to_string(height) + " as the frame it steadies";
    return std::nullopt;
  }
  return pixels;
}

void writeTopDown(const std::vector<Pixel32>& pixels, std::uint32_t width, std::uint32_t height, RowOrder order,
                  PictureSink& sink) {
  // `writeRows` counts rows from the bottom; the rows go in the order the
  // sink was opened for.
  for (std::uint32_t i = 0; i < height; ++i) {
    const std::uint32_t fromBottom = order == RowOrder::TopDown ? height - 1 - i : i;
    sink.writeRows(fromBottom, pixels.data() + std::size_t{height - 1 - fromBottom} * width, 1);
  }
}

}  // namespace

bool keySteadyPicture(const std::string& input, const std::vector<std::string>& earlierInputs,
                      const Keying& keying, std::uint32_t width, std::uint32_t height, RowOrder order,
                      PictureSink& sink, int threads, std::string& failedPath, std::string& error) {
  // The earliest first, as a clip would key them.
  SteadyClip clip;
  for (auto path = earlierInputs.rbegin(); path != earlierInputs.rend(); ++path) {
    auto pixels = readFrame(*path, width, height, error);
    if (!pixels) {
      failedPath = *path;
      return false;
    }
    clip.keyFrame(*pixels, width, height, keying, threads, false);
  }
  auto pixels = readFrame(input, width, height, error);
  if (!pixels) {
    failedPath = input;
    return false;
  }
  clip.keyFrame(*pixels, width, height, keying, threads);
  writeTopDown(*pixels, width, height, order, sink);
  return true;
}

}  // namespace Kvl::Cli

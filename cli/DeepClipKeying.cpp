#include "DeepClipKeying.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "DeepAdapters.h"
#include "engine/DeepKeying.h"
#include "keying/LightWrap.h"

namespace Kvl::Cli {
namespace {

// A decoded frame as a deep picture, top row first, for the deep keyer.
class DeepFrameSource final : public DeepPictureSource {
public:
  DeepFrameSource(const std::vector<PixelF>& pixels, std::uint32_t width, std::uint32_t height) : pixels_(pixels) {
    // Video is coded (BT.709's curve, or the clip's own), keyed as it is.
    setShape(width, height, DeepLayout{SampleType::Uint16, false, Transfer::Rec709, false});
  }
  void readRows(PixelF* out, std::size_t rows) override {
    const std::size_t count = std::min<std::size_t>(rows * width(), pixels_.size() - next_);
    std::copy_n(pixels_.data() + next_, count, out);
    next_ += count;
  }
  void skipRows(std::uint64_t rows) override {
    next_ = std::min<std::size_t>(pixels_.size(), next_ + static_cast<std::size_t>(rows) * width());
  }
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool damaged() const override { return false; }

private:
  const std::vector<PixelF>& pixels_;  // we don't own it
  std::size_t next_ = 0;
};

// The frame keyed in place, on up to `threads` threads.
void keyDeepFrame(std::vector<PixelF>& frame, std::uint32_t width, std::uint32_t height, const PlateSettings& plate,
                  int threads) {
  DeepFrameSource source(frame, width, height);
  keyDeepPicture(
      source, plate,
      [&frame, width](const PixelF* rows, std::uint32_t topRow, std::size_t count) {
        std::copy_n(rows, count * width, frame.begin() + static_cast<std::ptrdiff_t>(std::size_t{topRow} * width));
      },
      threads);
}

// A background's 8-bit level as a coded value, as the 8-bit path mixes it.
float codedLevel(std::uint8_t level) { return static_cast<float>(level) / 255.0f; }

PixelF backgroundAt(const Background& background, std::uint32_t x, std::uint32_t y) {
  const Pixel32 b = background.at(x, y);
  return {codedLevel(redOf(b)), codedLevel(greenOf(b)), codedLevel(blueOf(b)), 1.0f};
}

// Straight colour times alpha, the background times the rest: opaque.
void composeFrame(std::vector<PixelF>& frame, std::uint32_t width, std::uint32_t height, const Background& background) {
  for (std::uint32_t y = 0; y < height; ++y) {
    PixelF* row = frame.data() + std::size_t{y} * width;
    for (std::uint32_t x = 0; x < width; ++x) {
      const PixelF b = backgroundAt(background, x, y);
      PixelF& p = row[x];
      const float a = std::clamp(p.alpha, 0.0f, 1.0f), rest = 1.0f - a;
      p = {p.red * a + b.red * rest, p.green * a + b.green * rest, p.blue * a + b.blue * rest, 1.0f};
    }
  }
}

// The 8-bit frames the views are made from: the keyed one and the plate.
class EightBitViews {
public:
  EightBitViews(ClipViews& views, std::size_t pixels) : views_(views) {
    if (!views.wanted()) return;
    keyed_.resize(pixels);
    if (views.wantsPlate()) plate_.resize(pixels);
  }
  void keepPlate(const std::vector<PixelF>& frame) {
    if (!plate_.empty()) std::transform(frame.begin(), frame.end(), plate_.begin(), toLevels);
  }
  bool write(const std::vector<PixelF>& keyed, std::string& path, std::string& error) {
    if (keyed_.empty()) return true;
    std::transform(keyed.begin(), keyed.end(), keyed_.begin(), toLevels);
    return views_.write(plate_.data(), keyed_.data(), keyed_.size(), path, error);
  }

private:
  static Pixel32 toLevels(const PixelF& pixel) { return displayPixel(pixel, Transfer::Rec709); }

  ClipViews& views_;
  std::vector<Pixel32> keyed_;
  std::vector<Pixel32> plate_;
};

// Keys, views and composes one frame; false, with the file and the reason,
// when a view cannot be written.
bool keyOneFrame(const DeepClipRun& run, std::vector<PixelF>& frame, const ClipInfo& info, EightBitViews& views,
                 std::string& path, std::string& error) {
  views.keepPlate(frame);
  keyDeepFrame(frame, info.width, info.height, run.settings.plate, run.keyThreads);
  if (!views.write(frame, path, error)) return false;
  if (!run.background) return true;
  if (run.command.lightWrap > 0) {
    wrapLight(frame, info.width, info.height, run.command.lightWrap,
              [&run](std::uint32_t x, std::uint32_t y) { return backgroundAt(*run.background, x, y); });
  }
  composeFrame(frame, info.width, info.height, *run.background);
  return true;
}

}  // namespace

bool keysClipInFloat(const ClipOutput& plan, const Keying& settings, const ClipInfo& info, bool refining) {
  return settings.keyer == KeyerKind::Plate && !settings.plate.cleanPlate && !refining && info.bitsPerSample > 8 &&
         !plan.pictures && codecTakesDeepFrames(plan.codec);
}

KeyingResult keyDeepClip(const DeepClipRun& run, ClipReader& reader, ClipViews& views, std::ostream& err) {
  const Command& command = run.command;
  const ClipInfo& info = reader.info();
  std::string error, path;
  const std::unique_ptr<ClipWriter> writer =
      ClipWriter::open(command.output, run.plan.codec, reader, error, ClipWriting{true, true});
  if (!writer) {
    reportError(err, command.output, error);
    return {};
  }
  if (!views.open(reader, path, error)) {
    reportError(err, path, error);
    return {};
  }
  FrameProgress progress(err, info.declaredFrames, run.showProgress);
  EightBitViews eightBit(views, std::size_t{info.width} * info.height);
  std::vector<PixelF> frame;
  double keySeconds = 0;
  for (long long index = 0; reader.readDeepFrame(frame); ++index) {
    const double start = threadCpuSeconds();
    const bool viewed = keyOneFrame(run, frame, info, eightBit, path, error);
    keySeconds += threadCpuSeconds() - start;
    if (!viewed || !writer->writeDeepFrame(frame.data())) {
      progress.finish();
      reportError(err, viewed ? command.output : path, viewed ? "writing failed (disk full or not writable)" : error);
      return {};
    }
    progress.frameDone(index + 1);
  }
  progress.finish();
  const FrameLoss loss = reader.loss();
  if (loss.frames > 0) reportLoss(err, command.inputs.front(), loss);
  if (!writer->commit(error)) {
    reportError(err, command.output, error);
    return {};
  }
  if (!views.commit(path, error)) {
    reportError(err, path, error);
    return {};
  }
  reportDroppedAudio(err, command, writer->droppedAudio());
  if (std::getenv("KEYVALE_CLIP_TIMES") != nullptr) reportTimes(err, reader.times(), keySeconds, writer->times());
  return {true, loss.frames > 0};
}

}  // namespace Kvl::Cli

#include "ClipKeying.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <ostream>

#include "Background.h"
#include "ClipReports.h"
#include "ClipViews.h"
#include "DeepClipKeying.h"
#include "FileKeying.h"
#include "Refinement.h"
#include "SettingsFile.h"
#include "SteadyFrames.h"
#include "engine/Keying.h"
#include "keying/LightWrap.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {
namespace {

namespace fs = std::filesystem;

// One decoded frame, handed to the preview sampler and the picture sinks
// as any other picture: top row first.
class FrameSource final : public PictureSource {
public:
  FrameSource(const std::vector<Pixel32>& pixels, std::uint32_t width, std::uint32_t height) : pixels_(pixels) {
    setShape(width, height, RowOrder::TopDown);
  }
  void readRows(Pixel32* out, std::size_t rows) override {
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
  const std::vector<Pixel32>& pixels_;  // we don't own it
  std::size_t next_ = 0;
};

std::optional<ClipCodec> parseCodec(const std::string& name) {
  if (name == "prores") return ClipCodec::ProRes4444;
  if (name == "vp9") return ClipCodec::Vp9;
  if (name == "ffv1") return ClipCodec::Ffv1;
  if (name == "png") return ClipCodec::Png;
  if (name == "qtrle") return ClipCodec::Qtrle;
  if (name == "h264") return ClipCodec::H264;
  return std::nullopt;
}

// Which codecs each container takes: VP9 only in WebM and Matroska, the
// others in QuickTime and Matroska, H.264 in MP4 too.
bool containerTakes(const std::string& extension, ClipCodec codec) {
  if (extension == ".webm") return codec == ClipCodec::Vp9;
  if (extension == ".mp4") return codec == ClipCodec::H264;
  if (extension == ".mov") return codec != ClipCodec::Vp9;
  return extension == ".mkv";
}

std::optional<ClipCodec> defaultCodecFor(const std::string& extension, bool opaque) {
  if (extension == ".mov") return ClipCodec::ProRes4444;
  if (extension == ".webm") return ClipCodec::Vp9;
  if (extension == ".mkv") return ClipCodec::Ffv1;
  if (extension == ".mp4" && opaque) return ClipCodec::H264;
  return std::nullopt;
}

const char* const AlphaContainers =
    "write .mov (ProRes 4444 with alpha) or .webm (VP9 with alpha), or add --background for an opaque .mp4";

std::optional<ClipOutput> refuse(std::string reason, std::string& error) {
  error = std::move(reason);
  return std::nullopt;
}

bool makeFolder(const std::string& folder, std::ostream& err) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (fs::is_directory(folder, error)) return true;
  reportError(err, folder, "cannot create the output folder");
  return false;
}

}  // namespace

bool namesClipContainer(const std::string& path) {
  const std::string extension = lowerExtension(path);
  return extension == ".mov" || extension == ".webm" || extension == ".mkv" || extension == ".mp4";
}

std::optional<ClipOutput> planClipOutput(const Command& command, std::string& error) {
  ClipOutput output;
  const bool opaque = !command.background.empty();
  if (command.batch()) {
    if (!command.codec.empty()) return refuse("--codec is for a clip output; --out-dir writes pictures", error);
    output.pictures = true;
    output.pictureFormat = command.format.value_or(OutputFormat::Targa);
    output.pngLevel = command.pngLevel;
    return output;
  }
  const std::string extension = lowerExtension(command.output);
  std::optional<ClipCodec> codec = defaultCodecFor(extension, opaque);
  if (!command.codec.empty()) {
    codec = parseCodec(command.codec);
    if (!codec) return refuse("--codec takes prores, vp9, ffv1, png, qtrle or h264", error);
  }
  if (!namesClipContainer(command.output)) {
    return refuse("a clip is keyed into .mov, .webm, .mkv or .mp4, or into pictures with --out-dir DIR", error);
  }
  if (!codec || !codecKeepsAlpha(*codec)) {
    if (!opaque) return refuse(command.output + " cannot carry alpha; " + AlphaContainers, error);
  }
  if (!codec || !containerTakes(extension, *codec)) {
    return refuse(std::string(codec ? codecName(*codec) : "this codec") + " cannot be written into " + extension,
                  error);
  }
  output.codec = *codec;
  return output;
}

std::string framePicturePath(const std::string& input, const std::string& outDir, OutputFormat format,
                             long long index) {
  char number[24];
  std::snprintf(number, sizeof number, ".%06lld", index + 1);
  const std::string name = fs::path(input).stem().string() + number + extensionOf(format);
  return (fs::path(outDir) / name).string();
}

namespace {

// The frame settings are chosen from when none is named: one second in, past
// the fades and slates that often open a clip, and cheap to reach. A stream
// that gives its time base for a rate (90000 for a raw stream) would send
// the choice deep into the clip; a second is never more than 120 frames.
long long defaultReferenceFrame(const ClipInfo& info) {
  if (info.rateNumerator <= 0) return 0;
  const double second = std::round(static_cast<double>(info.rateNumerator) / info.rateDenominator);
  return static_cast<long long>(std::min(second, 120.0));
}

}  // namespace

std::optional<Keying> chooseFromClip(const std::string& path, const KeyingRequest& wanted,
                                     std::optional<long long> reference, std::string& error) {
  const std::unique_ptr<ClipReader> reader = ClipReader::open(path, error);
  if (!reader) return std::nullopt;
  const long long wantedIndex = reference.value_or(defaultReferenceFrame(reader->info()));
  std::vector<Pixel32> frame, next;
  if (!reader->readFrame(frame)) {
    error = "no frame of the clip can be decoded";
    return std::nullopt;
  }
  for (long long index = 0; index < wantedIndex && reader->readFrame(next); ++index) frame.swap(next);
  FrameSource source(frame, reader->info().width, reader->info().height);
  return chooseKeying(source, wanted, error);
}

namespace {

// Where the keyed frames go: one clip, or one picture per frame.
class FrameOutput {
public:
  FrameOutput(const Command& command, const ClipOutput& plan) : command_(command), plan_(plan) {}

  bool open(ClipReader& reader, std::string& error) {
    if (plan_.pictures) return true;
    writer_ = ClipWriter::open(command_.output, plan_.codec, reader, error);
    return writer_ != nullptr;
  }

  bool write(const std::vector<Pixel32>& frame, const ClipInfo& info, long long index, std::string& path,
             std::string& error) {
    if (!plan_.pictures) {
      path = command_.output;
      error = "writing failed (disk full or not writable)";
      return writer_->writeFrame(frame.data());
    }
    path = framePicturePath(command_.inputs.front(), command_.outDir, plan_.pictureFormat, index);
    return writePicture(frame, info, path, error);
  }

  bool commit(std::string& error) { return plan_.pictures || writer_->commit(error); }
  ClipTimes times() const { return writer_ ? writer_->times() : ClipTimes{}; }
  const std::vector<std::string>* droppedAudio() const { return writer_ ? &writer_->droppedAudio() : nullptr; }

private:
  bool writePicture(const std::vector<Pixel32>& frame, const ClipInfo& info, const std::string& path,
                    std::string& error) {
    std::unique_ptr<PictureSink> sink = makePictureSink(plan_.pictureFormat, plan_.pngLevel, 0);
    if (sink == nullptr) {
      error = unsupportedOutput(plan_.pictureFormat);
      return false;
    }
    if (!sink->open(path, info.width, info.height, RowOrder::TopDown)) {
      error = sink->failure();
      return false;
    }
    // A top-down picture's rows go out from the top, as the still path
    // hands them; `y` counts from the bottom.
    for (std::uint32_t y = info.height; y-- > 0;) {
      sink->writeRows(y, frame.data() + std::size_t{info.height - 1 - y} * info.width, 1);
    }
    if (sink->commit()) return true;
    error = sink->failure();
    return false;
  }

  const Command& command_;
  const ClipOutput& plan_;
  std::unique_ptr<ClipWriter> writer_;
};

KeyingResult keyFrames(const Command& command, const ClipOutput& plan, const Keying& settings,
                       std::ostream& err, bool showProgress, int keyThreads) {
  const std::string& input = command.inputs.front();
  std::string error;
  const std::unique_ptr<ClipReader> reader = ClipReader::open(input, error);
  if (!reader) {
    reportError(err, input, error);
    return {};
  }
  const ClipInfo& info = reader->info();
  if (const std::string mismatch = cleanPlateMismatch(settings, info.width, info.height); !mismatch.empty()) {
    reportError(err, input, "frames are " + mismatch);
    return {};
  }
  std::optional<Background> background;
  if (!command.background.empty()) {
    background = makeBackground(command.background, info.width, info.height, error);
    if (!background) {
      reportError(err, command.background, error);
      return {};
    }
  }
  std::shared_ptr<const MatteRefinement> refinement;
  if (!loadRefinement(command.refine, refinement, err)) return {};
  ClipViews views({command.matteOut, command.statusOut});
  if (keysClipInFloat(plan, settings, info, refinement != nullptr)) {
    return keyDeepClip({command, plan, settings, background, showProgress, keyThreads}, *reader, views, err);
  }
  FrameOutput output(command, plan);
  if (!output.open(*reader, error)) {
    reportError(err, command.output, error);
    return {};
  }
  std::string path;
  if (!views.open(*reader, path, error)) {
    reportError(err, path, error);
    return {};
  }
  FrameProgress progress(err, info.declaredFrames, showProgress);
  std::vector<Pixel32> frame, plate;
  double keySeconds = 0;
  SteadyClip steady;
  for (long long index = 0; reader->readFrame(frame); ++index) {
    const double start = threadCpuSeconds();
    if (views.wantsPlate()) plate.assign(frame.begin(), frame.end());
    if (command.steadyMatte) {
      steady.keyFrame(frame, info.width, info.height, settings, keyThreads);
    } else {
      keyFrame(frame.data(), info.width, info.height, settings, keyThreads);
    }
    if (refinement) refineFrame(*refinement, frame.data(), info.width, info.height);
    if (views.wanted() && !views.write(plate.data(), frame.data(), frame.size(), path, error)) {
      progress.finish();
      reportError(err, path, error);
      return {};
    }
    if (background && command.lightWrap > 0) {
      wrapLight(frame, info.width, info.height, command.lightWrap, backgroundPixels(*background, info.height));
    }
    if (background) background->composeRows(frame.data(), 0, info.height);
    keySeconds += threadCpuSeconds() - start;
    if (!output.write(frame, info, index, path, error)) {
      progress.finish();
      reportError(err, path, error);
      return {};
    }
    progress.frameDone(index + 1);
  }
  progress.finish();
  const FrameLoss loss = reader->loss();
  if (loss.frames > 0) reportLoss(err, input, loss);
  if (!output.commit(error)) {
    reportError(err, command.output, error);
    return {};
  }
  if (!views.commit(path, error)) {
    reportError(err, path, error);
    return {};
  }
  if (const auto* dropped = output.droppedAudio()) reportDroppedAudio(err, command, *dropped);
  if (std::getenv("KEYVALE_CLIP_TIMES") != nullptr) reportTimes(err, reader->times(), keySeconds, output.times());
  return {true, loss.frames > 0};
}

}  // namespace

int runClip(const Command& command, const ClipOutput& output, const KeyingRequest& wanted, std::ostream& out,
            std::ostream& err, ConsoleOptions console) {
  const std::string& input = command.inputs.front();
  Keying settings = givenKeying(wanted);
  try {
    if (wanted.choosesFromPicture()) {
      std::string error;
      const auto chosen = chooseFromClip(input, wanted, command.referenceFrame, error);
      if (!chosen) {
        reportError(err, input, error);
        return ExitFileError;
      }
      settings = *chosen;
    }
    out << describeKeying(settings) << '\n';
    if (output.pictures && !makeFolder(command.outDir, err)) return ExitFileError;
    const KeyingResult result =
        keyFrames(command, output, settings, err, console.stderrIsTerminal && !command.quiet, console.cpuCount);
    if (!result.ok) return ExitFileError;
    if (!command.settingsOutFile.empty()) {
      std::string error;
      if (!writeSettingsFile(command.settingsOutFile, settings, error)) {
        reportError(err, command.settingsOutFile, error);
        return ExitFileError;
      }
    }
    return result.lostFrames ? ExitFileError : ExitSuccess;
  } catch (const std::bad_alloc&) {
    reportError(err, input, "not enough memory for a frame");
    return ExitFileError;
  }
}

}  // namespace Kvl::Cli

#include "FileKeying.h"

#include <filesystem>
#include <memory>
#include <new>

#include "Background.h"
#include "DeepFileKeying.h"
#include "engine/DeepKeying.h"
#include "Refinement.h"
#include "SteadyFrames.h"
#include "keying/Key.h"
#include "imageio/PictureFiles.h"
#include "imageio/ReplacingFile.h"
#include "video/VideoFiles.h"

namespace Kvl::Cli {

const char* const TruncatedTargaWarning = "file is truncated; missing pixels are keyed as black";

namespace {

FileOutcome failure(std::string path, std::string reason, FileOutcome outcome = {}) {
  outcome.ok = false;
  outcome.errorPath = std::move(path);
  outcome.error = std::move(reason);
  return outcome;
}

const char* damageWarning(PictureFormat format) {
  if (format == PictureFormat::Jpeg) return "file is damaged or truncated; keyed as far as it decodes";
  return TruncatedTargaWarning;
}

// A Targa output keeps the image-ID field of a Targa input, zero-filled, so
// that Targa in gives the very file Save As writes.
std::unique_ptr<PictureSink> makeSink(const FileJob& job, const PictureSource& source) {
  return makePictureSink(job.format, job.pngLevel, source.idLength(), job.deep);
}

// The deep format of the file where this build reads it (a Windows build
// reads TIFF through the system's codecs, in 8 bits, and 16-bit PNG too).
std::optional<DeepFormat> usableDeepFormat(const std::string& path) {
  const std::optional<DeepFormat> deep = sniffDeepFormat(path);
  if (deep && canUseDeepFormat(*deep)) return deep;
  return std::nullopt;
}

// The picture as 8-bit rows: a deep picture through the classic keyer is
// read so, as it would be shown. `levels` says what the 8-bit values are:
// what --input-transfer says of an 8-bit picture (else sRGB); sRGB for a
// linear deep one, which is coded to be shown.
std::unique_ptr<PictureSource> openPlate(const FileJob& job, std::optional<DeepFormat> deep, PictureFormat format,
                                         ChromaUpsampling chroma, std::string& error, Transfer& levels) {
  levels = job.deep.inputTransfer.value_or(Transfer::Srgb);
  if (deep && *deep != DeepFormat::Png16) {
    auto source = openDeepPicture(job.input, *deep, error);
    if (!source) return nullptr;
    const Transfer transfer = job.deep.inputTransfer.value_or(source->layout().transfer);
    levels = transfer == Transfer::Linear ? Transfer::Srgb : transfer;
    return std::make_unique<DeepAsEightBit>(std::move(source), transfer);
  }
  PictureError failed;
  auto source = openPicture(job.input, format, failed, chroma);
  if (!source) error = describe(failed);
  return source;
}

// The keyed rows laid over a new background on their way to the file.
std::unique_ptr<PictureSink> makeSinkOverBackground(const FileJob& job, const PictureSource& source,
                                                    std::string& error) {
  std::unique_ptr<PictureSink> sink = makeSink(job, source);
  if (job.background.empty()) return sink;
  auto background = makeBackground(job.background, source.width(), source.height(), error);
  if (!background) return nullptr;
  Background light = *background;  // the light wrap's own copy
  sink = std::make_unique<BackgroundSink>(std::move(sink), std::move(*background));
  if (job.deep.lightWrap == 0) return sink;
  return std::make_unique<LightWrapSink>(std::move(sink), std::move(light), job.deep.lightWrap);
}

// The matte and status views see the keyed rows before a background does
// (which would make them opaque) and after any refinement. The status
// view reads the plate a second time, in step with the keyed rows.
std::unique_ptr<PictureSink> withViews(std::unique_ptr<PictureSink> sink, const FileJob& job,
                                       std::optional<DeepFormat> deep, PictureFormat format, KeyerKind keyer,
                                       ViewSink*& views);

// The plate keyer judges each pixel's colour against the backdrop's, so a
// JPEG's half-resolution colour is rebuilt along its luma for it; the
// classic key reads JPEG as it always has.
ChromaUpsampling chromaFor(KeyerKind keyer) {
  return keyer == KeyerKind::Plate ? ChromaUpsampling::LumaGuided : ChromaUpsampling::Smooth;
}

// The setting the file is keyed with: chosen from the picture where asked
// (the classic keyer's from a preview sampled as Open samples it), after
// which the source is rewound for keying.
// Nothing but the reason when the picture cannot be keyed as asked.
std::string chooseFor(PictureSource& source, const KeyingRequest& wanted, Keying& settings) {
  if (!wanted.choosesFromPicture()) {
    settings = givenKeying(wanted);
    return {};
  }
  std::string refusal;
  const std::optional<Keying> chosen = chooseKeying(source, wanted, refusal);
  if (!chosen) return refusal;
  settings = *chosen;
  return source.rewind() ? std::string() : "cannot open for reading";
}

}  // namespace

std::string cleanPlateMismatch(const Keying& keying, std::uint32_t width, std::uint32_t height) {
  const CleanPlate* plate = keying.keyer == KeyerKind::Plate ? keying.plate.cleanPlate.get() : nullptr;
  if (!plate || (plate->width == width && plate->height == height)) return {};
  return std::to_string(width) + "x" + std::to_string(height) + ", but the clean plate " +
         keying.plate.cleanPlateFile + " is " + std::to_string(plate->width) + "x" + std::to_string(plate->height) +
         ": it must be of the same shot";
}

namespace {

// Open the input (any format), choose the settings, key its rows into the
// output. Only the rows in hand are held, where the formats allow.
// Neither a picture nor a clip: an empty file said to be empty (a clip
// whose copy never arrived, named .mov, is no short Targa file), else the
// video libraries' reason where they have one (a file that is no Targa
// says little), else the picture's.
std::string unreadableReason(const std::string& path, const std::string& pictureError, const std::string& notClip) {
  std::error_code failed;
  if (std::filesystem::is_regular_file(path, failed) && std::filesystem::file_size(path, failed) == 0 && !failed) {
    return "the file is empty";
  }
  if (!notClip.empty()) return "not a picture or clip keyvale-cli can read (" + notClip + ")";
  return pictureError;
}

FileOutcome keyPictureFile(const FileJob& job, const KeyingRequest& wanted) {
  FileOutcome outcome;
  const PictureFormat format = sniffPictureFormat(job.input);
  const std::optional<DeepFormat> deep = usableDeepFormat(job.input);
  std::string error;
  FileJob output = job;  // as the sinks see it: what the 8-bit rows' values are
  Transfer levels = Transfer::Srgb;
  std::unique_ptr<PictureSource> source = openPlate(job, deep, format, chromaFor(wanted.keyer), error, levels);
  output.deep.inputTransfer = levels;
  if (!source) {
    if (deep) return failure(job.input, error);
    std::string notClip;
    if (isClip(job.input, notClip)) return failure(job.input, "a video clip: key it on its own, keyvale-cli key CLIP OUTPUT");
    return failure(job.input, unreadableReason(job.input, error, notClip));
  }
  const auto noteDamage = [&] {
    if (source->damaged()) outcome.warning = damageWarning(format);
  };
  noteDamage();
  if (const std::string refusal = chooseFor(*source, wanted, outcome.settings); !refusal.empty()) {
    return failure(job.input, refusal, outcome);
  }
  if (const std::string mismatch = cleanPlateMismatch(outcome.settings, source->width(), source->height());
      !mismatch.empty()) {
    return failure(job.input, mismatch, outcome);
  }
  noteDamage();
  std::string backgroundError;
  std::unique_ptr<PictureSink> outputSink = makeSinkOverBackground(output, *source, backgroundError);
  if (!outputSink) return failure(job.background, backgroundError, outcome);
  ViewSink* views = nullptr;  // we don't own it: the refining sink does
  if (!job.views.empty()) outputSink = withViews(std::move(outputSink), job, deep, format, wanted.keyer, views);
  const std::unique_ptr<PictureSink> sink = refineInto(std::move(outputSink), job.refinement);
  const auto failedPath = [&] { return views != nullptr ? views->failedPath() : job.output; };
  if (!sink->open(job.output, source->width(), source->height(), source->rowOrder())) {
    // A picture bound for PNG used to be read whole before its output was
    // made; its damage is still told when the output cannot be made.
    if (job.format == OutputFormat::Png) source->skipRows(source->height());
    noteDamage();
    return failure(failedPath(), sink->failure(), outcome);
  }
  if (job.steady && outcome.settings.keyer == KeyerKind::Plate) {
    std::string failedInput;
    if (!keySteadyPicture(job.input, job.earlierInputs, outcome.settings, source->width(), source->height(),
                          source->rowOrder(), *sink, job.keyThreads, failedInput, error)) {
      return failure(failedInput, error, outcome);
    }
  } else {
    keyPicture(*source, outcome.settings, *sink, job.keyThreads);
  }
  noteDamage();
  outcome.pixelCount = source->pixelCount();
  source.reset();  // before the output replaces it, which may be the same file
  if (!sink->commit()) return failure(failedPath(), sink->failure(), outcome);
  outcome.ok = true;
  return outcome;
}

std::unique_ptr<PictureSink> withViews(std::unique_ptr<PictureSink> sink, const FileJob& job,
                                       std::optional<DeepFormat> deep, PictureFormat format, KeyerKind keyer,
                                       ViewSink*& views) {
  std::unique_ptr<PictureSource> plate;
  if (!job.views.status.empty()) {
    std::string ignored;  // the file was read once already; failing now shows at open
    Transfer levels = Transfer::Srgb;
    plate = openPlate(job, deep, format, chromaFor(keyer), ignored, levels);
  }
  auto viewSink = std::make_unique<ViewSink>(std::move(sink), job.views, job.pngLevel, std::move(plate));
  views = viewSink.get();
  return viewSink;
}

}  // namespace

namespace {

std::unique_ptr<PictureSink> makeEightBitSink(OutputFormat format, int pngLevel, std::uint8_t idLength,
                                              const DeepOptions& deep) {
  switch (format) {
    case OutputFormat::Png: return makePngSink(pngLevel);
    case OutputFormat::Jpeg: return makeJpegSink();
    case OutputFormat::Exr:
    case OutputFormat::Tiff: {
      const DeepFormat deepFormat = format == OutputFormat::Exr ? DeepFormat::Exr : DeepFormat::Tiff;
      auto sink = makeDeepSink(deepFormat, deep.exrCompression);
      if (!sink) return nullptr;
      const Transfer levels = deep.inputTransfer.value_or(Transfer::Srgb);
      const DeepLayout eightBit{SampleType::Uint8, true, levels, false};
      return std::make_unique<EightBitIntoDeep>(std::move(sink), outputLayoutFor(deepFormat, eightBit, deep), levels);
    }
    case OutputFormat::Targa: break;
  }
  return std::make_unique<TargaSink>(idLength);
}

}  // namespace

std::unique_ptr<PictureSink> makePictureSink(OutputFormat format, int pngLevel, std::uint8_t idLength,
                                             const DeepOptions& deep) {
  std::unique_ptr<PictureSink> sink = makeEightBitSink(format, pngLevel, idLength, deep);
  const bool deepOutput = format == OutputFormat::Exr || format == OutputFormat::Tiff;
  if (!sink || deepOutput || !deep.premultiplied.value_or(false)) return sink;
  return std::make_unique<PremultiplyingSink>(std::move(sink));
}

bool canWriteFormat(OutputFormat format) {
  switch (format) {
    case OutputFormat::Png: return canWritePng();
    case OutputFormat::Jpeg: return canWriteJpeg();
    case OutputFormat::Exr: return canUseDeepFormat(DeepFormat::Exr);
    case OutputFormat::Tiff: return canUseDeepFormat(DeepFormat::Tiff);
    case OutputFormat::Targa: break;
  }
  return true;
}

std::string unsupportedOutput(OutputFormat format) {
  if (format == OutputFormat::Exr) return deepFormatRefusal(DeepFormat::Exr);
  if (format == OutputFormat::Tiff) return deepFormatRefusal(DeepFormat::Tiff);
  return std::string(format == OutputFormat::Jpeg ? "JPEG" : "PNG") +
         " output is not supported by this build of keyvale-cli (Targa only)";
}

std::string refusalForAlpha(OutputFormat format, const DeepOptions& deep, bool opaque) {
  if (opaque || format != OutputFormat::Png || !deep.premultiplied.value_or(false)) return {};
  return "a PNG file holds straight alpha only: write --format exr, tif or tga for premultiplied alpha";
}

FileOutcome keyFile(const FileJob& job, const KeyingRequest& wanted) {
  if (!job.refusal.empty()) return failure(job.output, job.refusal);
  if (!canWriteFormat(job.format)) return failure(job.output, unsupportedOutput(job.format));
  const std::string alphaRefusal = refusalForAlpha(job.format, job.deep, !job.background.empty());
  if (!alphaRefusal.empty()) return failure(job.output, alphaRefusal);
  const std::optional<DeepFormat> deep = usableDeepFormat(job.input);
  if (!deep && sniffDeepFormat(job.input) == DeepFormat::Exr) return failure(job.input, deepFormatRefusal(DeepFormat::Exr));
  if (keysInFloat(deep, wanted.keyer)) return keyDeepFile(job, wanted, *deep);
  try {
    FileOutcome outcome = keyPictureFile(job, wanted);
    // Ctrl-C on Windows: the output was abandoned, not refused by the disk.
    if (!outcome.ok && ReplacingFile::abandoned()) return failure(job.output, "interrupted; not written", outcome);
    return outcome;
  } catch (const std::bad_alloc&) {
    return failure(job.input, "not enough memory for the image");
  }
}

std::optional<Keying> chooseKeyingFor(const std::string& path, const KeyingRequest& wanted, std::string& error) {
  FileJob job;
  job.input = path;
  const std::optional<DeepFormat> deep = usableDeepFormat(path);
  try {
    if (keysInFloat(deep, wanted.keyer)) {
      const std::unique_ptr<DeepPictureSource> deepSource = openDeepPicture(path, *deep, error);
      if (!deepSource) return std::nullopt;
      Keying keying = givenKeying(wanted);
      std::optional<PlateSettings> plate = surveyDeepPlate(*deepSource, wanted.classic, wanted.screen, error);
      if (!plate) return std::nullopt;
      keying.plate = std::move(*plate);
      return keying;
    }
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the image";
    return std::nullopt;
  }
  Transfer levels = Transfer::Srgb;
  const std::unique_ptr<PictureSource> source =
      openPlate(job, deep, sniffPictureFormat(path), chromaFor(wanted.keyer), error, levels);
  if (!source) return std::nullopt;
  try {
    return chooseKeying(*source, wanted, error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the image";
    return std::nullopt;
  }
}

bool loadIntoPreview(PreviewWorkspace& workspace, const std::string& path, std::string& error,
                     std::string& warning) {
  const PictureFormat format = sniffPictureFormat(path);
  PictureError failed;
  const std::unique_ptr<PictureSource> source = openPicture(path, format, failed);
  if (!source) {
    error = describe(failed);
    return false;
  }
  try {
    workspace.processor().resampleToPreview(*source);
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the image";
    return false;
  }
  if (source->damaged()) warning = damageWarning(format);
  return true;
}

std::string whyNotAPicture(const std::string& path) {
  std::string error;
  if (const std::optional<DeepFormat> deep = usableDeepFormat(path); deep && *deep != DeepFormat::Png16) {
    return openDeepPicture(path, *deep, error) ? std::string() : error;
  }
  PictureError failed;
  if (openPicture(path, sniffPictureFormat(path), failed)) return {};
  std::string notClip;
  isClip(path, notClip);
  return unreadableReason(path, describe(failed), notClip);
}

}  // namespace Kvl::Cli

#include "FileKeying.h"

#include <memory>
#include <new>

#include "Background.h"
#include "Refinement.h"
#include "engine/Key.h"
#include "imageio/PictureFiles.h"
#include "imageio/ReplacingFile.h"
#include "imageio/VideoFiles.h"

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
  return makePictureSink(job.format, job.pngLevel, source.idLength());
}

// The keyed rows laid over a new background on their way to the file.
std::unique_ptr<PictureSink> makeSinkOverBackground(const FileJob& job, const PictureSource& source,
                                                    std::string& error) {
  std::unique_ptr<PictureSink> sink = makeSink(job, source);
  if (job.background.empty()) return sink;
  auto background = makeBackground(job.background, source.width(), source.height(), error);
  if (!background) return nullptr;
  return std::make_unique<BackgroundSink>(std::move(sink), std::move(*background));
}

// The plate keyer judges each pixel's colour against the backdrop's, so a
// JPEG's half-resolution colour is rebuilt along its luma for it; the
// classic key reads JPEG as it always has.
ChromaUpsampling chromaFor(KeyerKind keyer) {
  return keyer == KeyerKind::Plate ? ChromaUpsampling::LumaGuided : ChromaUpsampling::Smooth;
}

// The setting the file is keyed with: chosen from the picture where asked
// (the classic keyer's from a preview sampled as Open samples it), after
// which the source is rewound for keying.
bool chooseFor(PictureSource& source, const KeyingRequest& wanted, Keying& settings) {
  if (!wanted.choosesFromPicture()) {
    settings = givenKeying(wanted);
    return true;
  }
  settings = chooseKeying(source, wanted);
  return source.rewind();
}

// Open the input (any format), choose the settings, key its rows into the
// output. Only the rows in hand are held, where the formats allow.
FileOutcome keyPictureFile(const FileJob& job, const KeyingRequest& wanted) {
  FileOutcome outcome;
  const PictureFormat format = sniffPictureFormat(job.input);
  PictureError error;
  std::unique_ptr<PictureSource> source = openPicture(job.input, format, error, chromaFor(wanted.keyer));
  if (!source) {
    std::string notClip;
    if (isClip(job.input, notClip)) return failure(job.input, "a video clip: key it on its own, keyvale-cli key CLIP OUTPUT");
    // Neither a Targa file nor a clip: the video libraries' reason, not the Targa reader's.
    if (!notClip.empty()) return failure(job.input, "not a picture or clip keyvale-cli can read (" + notClip + ")");
    return failure(job.input, describe(error));
  }
  const auto noteDamage = [&] {
    if (source->damaged()) outcome.warning = damageWarning(format);
  };
  noteDamage();
  if (!chooseFor(*source, wanted, outcome.settings)) return failure(job.input, "cannot open for reading", outcome);
  noteDamage();
  std::string backgroundError;
  const std::unique_ptr<PictureSink> sink =
      refineInto(makeSinkOverBackground(job, *source, backgroundError), job.refinement);
  if (!sink) return failure(job.background, backgroundError, outcome);
  if (!sink->open(job.output, source->width(), source->height(), source->rowOrder())) {
    // A picture bound for PNG used to be read whole before its output was
    // made; its damage is still told when the output cannot be made.
    if (job.format == OutputFormat::Png) source->skipRows(source->height());
    noteDamage();
    return failure(job.output, sink->failure(), outcome);
  }
  keyPicture(*source, outcome.settings, *sink, job.keyThreads);
  noteDamage();
  outcome.pixelCount = source->pixelCount();
  source.reset();  // before the output replaces it, which may be the same file
  if (!sink->commit()) return failure(job.output, sink->failure(), outcome);
  outcome.ok = true;
  return outcome;
}

}  // namespace

std::unique_ptr<PictureSink> makePictureSink(OutputFormat format, int pngLevel, std::uint8_t idLength) {
  switch (format) {
    case OutputFormat::Png: return makePngSink(pngLevel);
    case OutputFormat::Jpeg: return makeJpegSink();
    case OutputFormat::Targa: break;
  }
  return std::make_unique<TargaSink>(idLength);
}

bool canWriteFormat(OutputFormat format) {
  switch (format) {
    case OutputFormat::Png: return canWritePng();
    case OutputFormat::Jpeg: return canWriteJpeg();
    case OutputFormat::Targa: break;
  }
  return true;
}

std::string unsupportedOutput(OutputFormat format) {
  return std::string(format == OutputFormat::Jpeg ? "JPEG" : "PNG") +
         " output is not supported by this build of keyvale-cli (Targa only)";
}

FileOutcome keyFile(const FileJob& job, const KeyingRequest& wanted) {
  if (!job.refusal.empty()) return failure(job.output, job.refusal);
  if (!canWriteFormat(job.format)) return failure(job.output, unsupportedOutput(job.format));
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
  PictureError failed;
  const std::unique_ptr<PictureSource> source =
      openPicture(path, sniffPictureFormat(path), failed, chromaFor(wanted.keyer));
  if (!source) {
    error = describe(failed);
    return std::nullopt;
  }
  try {
    return chooseKeying(*source, wanted);
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

}  // namespace Kvl::Cli

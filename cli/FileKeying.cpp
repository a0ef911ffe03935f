#include "FileKeying.h"

#include <memory>
#include <new>

#include "engine/Key.h"
#include "imageio/PictureFiles.h"

namespace Kvl::Cli {

const char* const TruncatedTargaWarning = "file is truncated; missing pixels are keyed as black";

namespace {

bool needsPreview(const SettingsRequest& wanted) { return !wanted.channel || wanted.autoAdjust; }

KeySettings givenSettings(const SettingsRequest& wanted) {
  return {wanted.channel.value_or(GreenChannel), wanted.contrast, wanted.offset};
}

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
  if (job.format == OutputFormat::Png) return makePngSink(job.pngLevel);
  return std::make_unique<TargaSink>(source.idLength());
}

// The settings the file is keyed with: from a preview sampled as Open
// samples it where the channel or the sliders are to be chosen. The source
// is then rewound for keying.
bool chooseFor(PictureSource& source, const SettingsRequest& wanted, KeySettings& settings) {
  settings = givenSettings(wanted);
  if (!needsPreview(wanted)) return true;
  PreviewWorkspace workspace;
  workspace.processor().resampleToPreview(source);
  settings = chooseSettings(workspace.previewSource(), wanted);
  return source.rewind();
}

// Open the input (any format), choose the settings, key its rows into the
// output. Only the rows in hand are held, where the formats allow.
FileOutcome keyPictureFile(const FileJob& job, const SettingsRequest& wanted) {
  FileOutcome outcome;
  const PictureFormat format = sniffPictureFormat(job.input);
  PictureError error;
  std::unique_ptr<PictureSource> source = openPicture(job.input, format, error);
  if (!source) return failure(job.input, describe(error));
  const auto noteDamage = [&] {
    if (source->damaged()) outcome.warning = damageWarning(format);
  };
  noteDamage();
  if (!chooseFor(*source, wanted, outcome.settings)) return failure(job.input, "cannot open for reading", outcome);
  noteDamage();
  const std::unique_ptr<PictureSink> sink = makeSink(job, *source);
  if (!sink->open(job.output, source->width(), source->height(), source->rowOrder())) {
    // A picture bound for PNG used to be read whole before its output was
    // made; its damage is still told when the output cannot be made.
    if (job.format == OutputFormat::Png) source->skipRows(source->height());
    noteDamage();
    return failure(job.output, sink->failure(), outcome);
  }
  const KeySettings& s = outcome.settings;
  keyPicture(*source, s.channel, levelTable(s.contrast, s.offset), *sink);
  noteDamage();
  outcome.pixelCount = source->pixelCount();
  source.reset();  // before the output replaces it, which may be the same file
  if (!sink->commit()) return failure(job.output, sink->failure(), outcome);
  outcome.ok = true;
  return outcome;
}

}  // namespace

FileOutcome keyFile(const FileJob& job, const SettingsRequest& wanted) {
  if (!job.refusal.empty()) return failure(job.output, job.refusal);
  if (job.format == OutputFormat::Png && !canWritePng()) {
    return failure(job.output, "PNG output is not supported by this build of keyvale-cli (Targa only)");
  }
  try {
    return keyPictureFile(job, wanted);
  } catch (const std::bad_alloc&) {
    return failure(job.input, "not enough memory for the image");
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

#include "FileKeying.h"

#include <new>

#include "engine/Key.h"
#include "formats/Picture.h"
#if KEYVALE_HAVE_PNG
#include "formats/PngWriter.h"
#endif
#include "imageio/ImageSaver.h"
#include "imageio/ReplacingFile.h"

namespace Kvl::Cli {
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

// The keyed writer's own layout, for pixels already keyed in memory: the
// 18-byte header, no image ID, the rows bottom-up.
bool writeKeyedTarga(const std::string& path, const ImageLoader& image, std::string& reason) {
  if (image.width > 0xFFFF || image.height > 0xFFFF) {
    reason = "a Targa file cannot hold a " + std::to_string(image.width) + " x " +
             std::to_string(image.height) + " picture; use --format png";
    return false;
  }
  ReplacingFile output(path);
  if (!output.open()) {
    reason = "cannot open for writing";
    return false;
  }
  std::uint8_t header[TgaHeaderSize];
  buildKeyedTgaHeader(header, 0, static_cast<std::uint16_t>(image.width), static_cast<std::uint16_t>(image.height));
  output.write(header, sizeof header);
  output.write(image.pixels.get(), std::size_t{static_cast<std::uint32_t>(image.width)} *
                                       static_cast<std::uint32_t>(image.height) * sizeof(Pixel32));
  if (!output.commit()) {
    reason = "writing failed (disk full or not writable)";
    return false;
  }
  return true;
}

bool writeKeyedPicture(const FileJob& job, const ImageLoader& image, std::string& reason) {
  if (job.format == OutputFormat::Targa) return writeKeyedTarga(job.output, image, reason);
#if KEYVALE_HAVE_PNG
  return writeKeyedPng(job.output, image.pixels.get(), static_cast<std::uint32_t>(image.width),
                       static_cast<std::uint32_t>(image.height), reason);
#else
  reason = "PNG output is not supported by this build of keyvale-cli (Targa only)";
  return false;
#endif
}

// Targa to Targa goes through the keyed writer itself, which reads the
// source again and streams it: byte for byte the file Save As writes.
FileOutcome keyTargaToTarga(const FileJob& job, const SettingsRequest& wanted) {
  FileOutcome outcome;
  outcome.settings = givenSettings(wanted);
  if (needsPreview(wanted)) {
    PreviewWorkspace workspace;
    if (!loadIntoPreview(workspace, job.input, outcome.error, outcome.warning)) {
      return failure(job.input, outcome.error);
    }
    outcome.settings = chooseSettings(workspace.previewSource(), wanted);
  }
  TgaSaver saver;
  const KeySettings& s = outcome.settings;
  if (!saver.save(job.output.c_str(), job.input.c_str(), s.channel, s.contrast, s.offset)) {
    const bool sourceFailed = saver.error() == SaveError::SourceUnreadable;
    return failure(sourceFailed ? job.input : job.output, saver.describeError(), outcome);
  }
  if (saver.sourceTruncated()) outcome.warning = TruncatedTargaWarning;
  outcome.pixelCount = saver.sourceHeader().pixelCount();
  outcome.ok = true;
  return outcome;
}

// Everything else is decoded whole, keyed in memory and written out.
FileOutcome keyDecoded(const FileJob& job, const SettingsRequest& wanted, PictureFormat format) {
  FileOutcome outcome;
  LoadedPicture picture = loadPicture(job.input, format);
  if (!picture.ok()) return failure(job.input, picture.error);
  outcome.warning = picture.warning;
  ImageLoader& image = *picture.image;
  outcome.settings = givenSettings(wanted);
  if (needsPreview(wanted)) {
    PreviewWorkspace workspace;
    workspace.processor().resampleToPreview(image);
    outcome.settings = chooseSettings(workspace.previewSource(), wanted);
  }
  const std::size_t count = std::size_t{static_cast<std::uint32_t>(image.width)} *
                            static_cast<std::uint32_t>(image.height);
  const KeySettings& s = outcome.settings;
  keyAndLevel(image.pixels.get(), count, s.channel, levelTable(s.contrast, s.offset));
  std::string reason;
  if (!writeKeyedPicture(job, image, reason)) return failure(job.output, reason, outcome);
  outcome.pixelCount = count;
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
    const PictureFormat format = sniffPictureFormat(job.input);
    if (format == PictureFormat::Targa && job.format == OutputFormat::Targa) return keyTargaToTarga(job, wanted);
    return keyDecoded(job, wanted, format);
  } catch (const std::bad_alloc&) {
    return failure(job.input, "not enough memory for the image");
  }
}

bool loadIntoPreview(PreviewWorkspace& workspace, const std::string& path, std::string& error,
                     std::string& warning) {
  const PictureFormat format = sniffPictureFormat(path);
  if (format == PictureFormat::Targa) {
    // The window's own route, so the preview is the one Open shows.
    const PreviewRead read = workspace.processor().readPreview(path.c_str());
    if (!read.ok()) error = describeLoadError(read.error, read.header);
    if (read.truncated) warning = TruncatedTargaWarning;
    return read.ok();
  }
  const LoadedPicture picture = loadPicture(path, format);
  if (!picture.ok()) {
    error = picture.error;
    return false;
  }
  warning = picture.warning;
  workspace.processor().resampleToPreview(*picture.image);
  return true;
}

}  // namespace Kvl::Cli

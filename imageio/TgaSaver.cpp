#include <new>

#include "ImageSaver.h"
#include "TgaReader.h"

namespace Kvl {

bool TgaSaver::save(const char* outputPath, const char* sourcePath, KeyChannel channel,
                    std::uint8_t contrast, std::uint8_t offset) {
  *this = TgaSaver{};
  try {
    TgaReader source;
    // The reader's refusal of a file far shorter than its picture holds here
    // too: it would otherwise make an output of gigabytes from a few bytes.
    const bool opened = source.open(sourcePath);
    header_ = source.header();
    sourceError_ = source.error();
    if (!opened) return fail(SaveError::SourceUnreadable);
    TargaSink output(header_.idLength);
    if (!output.open(outputPath == nullptr ? "" : outputPath, source.width(), source.height(), source.rowOrder())) {
      outputFailure_ = output.failure();
      return fail(SaveError::CannotCreateOutput);
    }
    return keyInto(output, source, channel, contrast, offset);
  } catch (const std::bad_alloc&) {
    return fail(SaveError::WriteFailed);
  }
}

bool TgaSaver::keyInto(TargaSink& output, TgaReader& source, KeyChannel channel, std::uint8_t contrast,
                       std::uint8_t offset) {
  keyPicture(source, channel, levelTable(contrast, offset), output);
  truncated_ = source.damaged();
  source.close();  // before the output replaces it, which may be the same file
  if (output.commit()) return true;
  outputFailure_ = output.failure();
  return fail(SaveError::WriteFailed);
}

bool TgaSaver::fail(SaveError error) {
  error_ = error;
  return false;
}

std::string TgaSaver::describeError() const {
  switch (error_) {
    case SaveError::None: return "saved";
    case SaveError::SourceUnreadable: return describe(targaError(sourceError_, header_));
    case SaveError::CannotCreateOutput:
    case SaveError::WriteFailed:
      return outputFailure_.empty() ? "writing failed (disk full or not writable)" : outputFailure_;
  }
  return "unknown error";
}

}  // namespace Kvl

#pragma once
// The keyed Targa writer: reads the source again at full resolution, keys
// and levels every pixel, and writes an uncompressed 32-bit Targa file whose
// alpha holds the matte.

#include <cstdint>
#include <string>

#include "PictureSink.h"
#include "TgaFormat.h"
#include "keying/Pixel.h"

namespace Kvl {

class ImageSaver {
public:
  virtual bool save(const char* outputPath, const char* sourcePath, KeyChannel channel,
                    std::uint8_t contrast, std::uint8_t offset) = 0;

protected:
  ImageSaver() = default;
  ~ImageSaver() = default;  // savers are deleted through their own type
};

enum class SaveError {
  None,
  SourceUnreadable,  // see sourceError()
  CannotCreateOutput,
  WriteFailed,  // writing, closing or replacing the target failed
};

class TgaReader;

class TgaSaver final : public ImageSaver {
public:
  // The output replaces the target only when every byte was written; on
  // false an existing target is untouched and no partial file is left.
  bool save(const char* outputPath, const char* sourcePath, KeyChannel channel,
            std::uint8_t contrast, std::uint8_t offset) override;

  SaveError error() const { return error_; }
  LoadError sourceError() const { return sourceError_; }
  const TgaHeader& sourceHeader() const { return header_; }
  bool sourceTruncated() const { return truncated_; }
  // A short reason for a person, e.g. "cannot write the output".
  std::string describeError() const;

private:
  bool fail(SaveError error);
  bool keyInto(TargaSink& output, TgaReader& source, KeyChannel channel, std::uint8_t contrast,
               std::uint8_t offset);

  SaveError error_ = SaveError::None;
  std::string outputFailure_;  // the output's own words
  LoadError sourceError_ = LoadError::None;
  TgaHeader header_;
  bool truncated_ = false;
};

}  // namespace Kvl

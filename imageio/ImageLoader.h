#pragma once
// The decoded-image record, and the Targa loader that fills it whole
// through the Targa reader (TgaReader.h).

#include <cstdint>
#include <memory>

#include "ByteSource.h"
#include "DeclaredSize.h"
#include "TgaFormat.h"
#include "keying/Pixel.h"

namespace Kvl {

// A decoded picture: width x height pixels, row-major, alpha 0, rows from
// the bottom of the picture up and columns from left to right, whatever
// order the file stored them in.
class ImageLoader {
public:
  ImageLoader() = default;
  virtual ~ImageLoader() = default;
  ImageLoader(const ImageLoader&) = delete;
  ImageLoader& operator=(const ImageLoader&) = delete;

  virtual bool load(const char* path) = 0;

  // Targa sizes go to 65535, beyond a signed 16-bit field, so they are held
  // in wider fields rather than refused.
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint8_t bitsPerPixel = 0;
  std::unique_ptr<Pixel32[]> pixels;  // null until a successful load
};

class TgaReader;

class TgaLoader final : public ImageLoader {
public:
  bool load(const char* path) override;
  // The same, from bytes already in hand (tests, fuzzing).
  bool loadFrom(ByteSource& source);

  std::uint8_t idLength = 0;
  std::uint8_t imageType = 0;

  // Why the last load failed, and the header it read (for messages).
  LoadError error() const { return error_; }
  const TgaHeader& header() const { return header_; }
  // The file ended before all pixels were read; the missing ones are 0.
  bool truncated() const { return truncated_; }

private:
  bool loadThrough(TgaReader& reader, bool opened);
  bool placeRows(TgaReader& reader);
  bool fail(LoadError error);

  LoadError error_ = LoadError::None;
  TgaHeader header_;
  bool truncated_ = false;
};

}  // namespace Kvl

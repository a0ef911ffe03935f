#pragma once
// Pictures of more than 8 bits, read and written a block of rows at a time
// as four floats per pixel: 16-bit PNG, 8- to 32-bit TIFF and OpenEXR.
// They keep the file's values: a linear EXR stays linear and values above
// 1.0 are kept. Rows are always handed out and taken top row first.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "keying/DeepPixel.h"

namespace Kvl {

enum class DeepFormat { Png16, Tiff, Exr };

// "16-bit PNG", "TIFF", "OpenEXR".
const char* deepFormatName(DeepFormat format);

// How a file stores its samples.
enum class SampleType { Uint8, Uint16, Half, Float };

// What a deep picture holds beyond its size, and what a deep output is
// asked to write: the sample type, whether there is alpha, the transfer of
// the colour, and whether the colour is premultiplied by the alpha.
struct DeepLayout {
  SampleType samples = SampleType::Uint16;
  bool alpha = true;
  Transfer transfer = Transfer::Srgb;
  bool premultiplied = false;
};

class DeepPictureSource {
public:
  virtual ~DeepPictureSource() = default;
  DeepPictureSource(const DeepPictureSource&) = delete;
  DeepPictureSource& operator=(const DeepPictureSource&) = delete;

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  const DeepLayout& layout() const { return layout_; }

  // The next `rows` rows, top row first; alpha 1 where the file has none.
  // Rows the file does not hold are black and mark the source damaged.
  virtual void readRows(PixelF* out, std::size_t rows) = 0;
  virtual void skipRows(std::uint64_t rows) = 0;
  // Starts again at the first row; false when the source cannot.
  virtual bool rewind() = 0;
  virtual bool damaged() const = 0;
  // Why the file is damaged, in the library's words where it gave some.
  virtual std::string damage() const { return {}; }

protected:
  DeepPictureSource() = default;
  void setShape(std::uint32_t width, std::uint32_t height, const DeepLayout& layout) {
    width_ = width;
    height_ = height;
    layout_ = layout;
  }

private:
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  DeepLayout layout_;
};

class DeepPictureSink {
public:
  virtual ~DeepPictureSink() = default;
  // Makes the output; false, with failure() set, when it cannot be made or
  // the format cannot hold the picture.
  virtual bool open(const std::string& path, std::uint32_t width, std::uint32_t height, const DeepLayout& layout) = 0;
  // The next `count` rows, top row first. Failures show at commit.
  virtual void writeRows(const PixelF* rows, std::size_t count) = 0;
  // Puts the output in place of its target only when every byte was
  // written; on false the target is untouched and failure() says why.
  virtual bool commit() = 0;
  const std::string& failure() const { return failure_; }

protected:
  bool fail(std::string reason) {
    failure_ = std::move(reason);
    return false;
  }

private:
  std::string failure_;
};

// The deep format of the file at `path` from its first bytes: the OpenEXR
// magic number, a TIFF byte-order mark, or a PNG whose header says 16 bits.
// Nothing for any other file (an 8-bit PNG included).
std::optional<DeepFormat> sniffDeepFormat(const std::string& path);

// Whether this build reads and writes the format: TIFF and OpenEXR need
// libtiff and OpenEXR, which the Windows builds lack.
bool canUseDeepFormat(DeepFormat format);
// "OpenEXR pictures are not supported by this build of keyvale-cli"
std::string deepFormatRefusal(DeepFormat format);

// Opens a deep picture; null with the reason in `error` (the library's own
// words for a damaged file).
std::unique_ptr<DeepPictureSource> openDeepPicture(const std::string& path, DeepFormat format, std::string& error);

// The ways an OpenEXR output may be compressed.
enum class ExrCompression { Zip, Piz };

// An output of `format`; null on a build without its library. A PNG output
// writes 16-bit samples, a TIFF 16-bit ones too, an EXR half floats.
std::unique_ptr<DeepPictureSink> makeDeepSink(DeepFormat format, ExrCompression compression = ExrCompression::Zip);

}  // namespace Kvl

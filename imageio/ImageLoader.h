#pragma once
// The decoded-image record and the Targa reader.

#include <cstdint>
#include <memory>

#include "ByteSource.h"
#include "TgaFormat.h"
#include "engine/Pixel.h"

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
  bool fail(LoadError error);
  bool decodePixels(ByteSource& source);

  LoadError error_ = LoadError::None;
  TgaHeader header_;
  bool truncated_ = false;
};

// Puts rows stored top-to-bottom, or columns stored right-to-left, into the
// bottom-up, left-to-right order that the preview and the writer assume.
void reorientRows(Pixel32* pixels, std::int32_t width, std::int32_t height, const TgaHeader& header);

// The pixel count of a picture, or 0 when its Pixel32 array would be larger
// than the largest object this machine can index (PTRDIFF_MAX bytes: 2 GiB
// on 32-bit builds). The three-argument form takes that limit as a number,
// so the 32-bit arithmetic can be checked on any build.
std::size_t addressablePixelCount(std::uint64_t width, std::uint64_t height);
std::uint64_t addressablePixelCount(std::uint64_t width, std::uint64_t height,
                                    std::uint64_t largestObjectBytes);

// An 18-byte header can declare 65535 x 65535 pixels, 16 GiB decoded. So that
// such a file cannot make us allocate and zero-fill memory (or write an
// output file) for pixels it does not hold, a picture larger than
// AlwaysDecodedBytes decoded must bring at least 1/RequiredDataShare of the
// smallest encoding of its pixels. Smaller pictures load however short the
// file; either way the pixels a file lacks are black.
inline constexpr std::uint64_t AlwaysDecodedBytes = std::uint64_t{16} << 20;  // 2048 x 2048
inline constexpr std::uint64_t RequiredDataShare = 16;

// How many bytes a file must hold for a picture of `pixelCount` pixels whose
// most compact encoding takes `smallestEncodingBytes` (0 for pictures up to
// AlwaysDecodedBytes). The command line's PNG and JPEG readers keep the same
// rule with their formats' own smallest encodings.
std::uint64_t requiredDataBytes(std::uint64_t pixelCount, std::uint64_t smallestEncodingBytes);

// The fewest bytes that can encode the header's pixels: every pixel for an
// uncompressed file; for run-length, one full run packet (a count byte and
// one pixel) per 128 pixels.
std::uint64_t smallestPixelDataBytes(const TgaHeader& header);
// How many bytes of pixel data the file must hold for the header's picture
// to be read (0 for pictures up to AlwaysDecodedBytes).
std::uint64_t requiredPixelDataBytes(const TgaHeader& header);
// TooLittleData when `source`, standing at the first pixel byte, holds less
// than requiredPixelDataBytes; None otherwise. The source does not move.
LoadError checkPixelDataPresent(ByteSource& source, const TgaHeader& header);

}  // namespace Kvl

#pragma once
// Why a picture file could not be read, for every format the readers know:
// one reason code, the few facts the message names, and one describe().

#include <cstdint>
#include <string>

namespace Kvl {

// Other: BMP, GIF or TIFF, which only the Windows builds read, through the
// system's codecs.
enum class PictureFormat { Targa, Png, Jpeg, Other };

// Why a picture could not be read. None means it was read.
enum class LoadError {
  None,
  CannotOpen,     // missing, unreadable or empty path
  TooShort,       // fewer bytes than a Targa header needs
  TypeRefused,    // not uncompressed or run-length true-colour Targa
  DepthRefused,   // not 24 or 32 bits per pixel
  TooLarge,       // the pixel array cannot be addressed on this machine
  OutOfMemory,    // the pixel array could not be allocated
  TooLittleData,  // a large picture whose file holds far less than its pixels
  NotInThisBuild, // PNG or JPEG, in a build without that library
  NotPng,         // the PNG signature is missing
  Damaged,        // the PNG or JPEG library gave up; `detail` holds its words
  LayoutRefused,  // a PNG whose decoded rows are not one Pixel32 per pixel
  ColourSpaceRefused,  // a CMYK JPEG
  TooManyScans,   // a JPEG of more scans than any camera or editor writes
};

// Cameras and editors write one scan, or about ten for a progressive JPEG.
// Each scan makes the decoder pass over every block of the picture, so a
// small file of thousands of scans would keep it busy for minutes.
inline constexpr int MaximumJpegScans = 500;

struct PictureError {
  LoadError reason = LoadError::None;
  PictureFormat format = PictureFormat::Targa;
  // As declared by the file, for the messages that name them.
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint8_t imageType = 0;     // Targa only
  std::uint8_t bitsPerPixel = 0;  // Targa only
  std::string detail;             // the codec library's own message

  bool ok() const { return reason == LoadError::None; }
};

// A short reason for a person, e.g. "unsupported pixel depth 16".
std::string describe(const PictureError& error);

}  // namespace Kvl

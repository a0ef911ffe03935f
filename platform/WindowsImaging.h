#pragma once
// PNG, JPEG, BMP, GIF and TIFF decoding and PNG encoding through the codecs
// every Windows since Vista carries (the Windows Imaging Component). The
// Windows builds have neither libpng nor libjpeg; the picture files layer
// wraps these calls in its sources and sinks. No windows.h here, and
// nothing else of ours: pixels are plain 32-bit words.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kvl::WindowsImaging {

// Sizes stay within signed 32 bits, as the libraries' readers hold them.
inline constexpr std::uint32_t MaximumSide = 0x7FFFFFFF;

// Why the system could not decode a picture.
enum class Failure { None, TooLarge, LayoutRefused, Damaged, OutOfMemory };

// A picture decoded whole: 8-bit blue, green, red and alpha in each word's
// bytes from the lowest (0xAARRGGBB), top row first.
struct DecodedPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::unique_ptr<std::uint32_t[]> pixels;
  Failure failure = Failure::None;
  std::string detail;  // the failed step and its HRESULT, where there is one
};

DecodedPicture decodePicture(const std::string& path);

// `pixels` (width x height words as above, top row first) as a PNG file's
// bytes; false with `error` set when the system cannot encode them.
bool encodePng(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height,
               std::vector<unsigned char>& bytes, std::string& error);

}  // namespace Kvl::WindowsImaging

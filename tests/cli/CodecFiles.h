#pragma once
// PNG and JPEG files made and read by the libraries directly, independent
// of the command line's own decoders, so that a flipped row or swapped
// channel in those shows up. Native builds only: the Windows builds have
// neither library.

#include <cstdint>
#include <string>
#include <vector>

namespace Kvl::Test {

#if KEYVALE_HAVE_PNG
struct PngContent {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = 2;  // PNG_COLOR_TYPE_*
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<std::vector<std::uint8_t>> rows;  // packed samples, top row first
  std::vector<std::uint8_t> palette;            // red, green, blue per entry
  std::vector<std::uint8_t> transparency;       // tRNS alphas for the palette
};
void writePng(const std::string& path, const PngContent& content);

// The file decoded as 8-bit RGBA, top row first, as any viewer shows it.
struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;
};
RgbaImage readPngRgba(const std::string& path);
#endif

#if KEYVALE_HAVE_JPEG
// Samples top row first: 3 per pixel for RGB and CMYK-less colour, 1 for grey, 4 for CMYK.
void writeJpeg(const std::string& path, int width, int height, int components, const std::vector<std::uint8_t>& samples,
               int quality = 92);
// A progressive grey file of exactly `scans` scans (2 to 505): the DC scan,
// then bands of one coefficient each sent a bit plane at a time.
void writeProgressiveGreyJpeg(const std::string& path, int width, int height, const std::vector<std::uint8_t>& grey,
                              int scans);
// The file decoded as 8-bit RGB, top row first.
std::vector<std::uint8_t> decodeJpegRgb(const std::string& path, int& width, int& height);
#endif

}  // namespace Kvl::Test

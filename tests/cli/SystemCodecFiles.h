#pragma once
// PNG and JPEG files made and read through the Windows codecs directly, for
// the Windows builds, which have neither libpng nor libjpeg: fixtures for
// keyvale-cli.exe's readers, and a check of its PNG output with the alpha
// its own reader drops.

#include <cstdint>
#include <string>
#include <vector>

namespace Kvl::Test {

#ifdef _WIN32
enum class SystemFormat { Png, Jpeg, Bmp };

// 8-bit blue, green, red, alpha per pixel, top row first.
struct BgraImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> bgra;
};

// A PNG keeps the alpha; a JPEG (at the best quality) and a BMP drop it.
void writeWithSystem(const std::string& path, SystemFormat format, const BgraImage& image);
// Empty when the file cannot be decoded.
BgraImage readWithSystem(const std::string& path);
#endif

}  // namespace Kvl::Test

#pragma once
// Deep picture files made and read by the libraries directly, independent
// of imageio's readers and writers, so that a flipped row, a swapped
// channel or a rounded sample in those shows up. Native builds only.

#include <cstdint>
#include <string>
#include <vector>

namespace Kvl::Test {

// Samples top row first, red, green, blue and (with alpha) alpha per pixel.
struct DeepSamples {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool alpha = true;
  std::vector<float> values;  // floats for EXR and float TIFF, else the integer samples as floats
};

#if KEYVALE_HAVE_EXR
// half: 16-bit half floats, else 32-bit floats; the data window starts at
// (originX, originY); ZIP compressed, in blocks of one line with oneLineBlocks.
void writeExr(const std::string& path, const DeepSamples& samples, bool half, int originX = 0, int originY = 0,
              bool oneLineBlocks = false);
DeepSamples readExr(const std::string& path, bool& half, std::string& compression);
#endif
#if KEYVALE_HAVE_TIFF
void writeTiff16(const std::string& path, const DeepSamples& samples, bool associatedAlpha);
DeepSamples readTiff16(const std::string& path, std::uint16_t& extraSample);
#endif
#if KEYVALE_HAVE_PNG
void writePng16(const std::string& path, const DeepSamples& samples);
DeepSamples readPng16(const std::string& path);
#endif

}  // namespace Kvl::Test

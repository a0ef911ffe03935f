#pragma once
// Whole pictures in and out of files for the plate tools, through imageio:
// the tools hold a 1280 x 720 plate whole, top row first.

#include <cstdint>
#include <string>
#include <vector>

#include "keying/Pixel.h"
#include "imageio/PictureSink.h"

namespace Kvl::Bench {

struct WholePicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Pixel32> pixels;  // top row first
};

// Writes `pixels` (width x height, top row first) through `sink`; false with
// `error` set when the file could not be written whole.
bool writeWholePicture(PictureSink& sink, const std::string& path, std::uint32_t width, std::uint32_t height,
                       const std::vector<Pixel32>& pixels, std::string& error);

// Reads a PNG file with its alpha; false with `error` set when it cannot be
// read or is damaged (a keyed output cut short must not be scored).
bool readPngWithAlpha(const std::string& path, WholePicture& picture, std::string& error);

}  // namespace Kvl::Bench

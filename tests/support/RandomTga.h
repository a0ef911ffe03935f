#pragma once
// Random Targa files for the tests that prove the streaming reader and
// writer equal to whole-picture reading: any size, depth, origin, with or
// without run-length packets (crossing rows, sometimes overrunning the
// picture), an image ID, a colour map, and truncated at any byte.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TgaBytes.h"

namespace Kvl::Test {

struct TgaShape {
  std::uint16_t width = 1;
  std::uint16_t height = 1;
  std::uint8_t bitsPerPixel = 24;
  bool runLength = false;
  std::uint8_t descriptor = 0;  // 0x10 right-to-left, 0x20 top-to-bottom
  bool withIdAndColourMap = false;

  std::string describe() const {
    return std::to_string(width) + "x" + std::to_string(height) + " " + std::to_string(bitsPerPixel) +
           "-bit " + (runLength ? "run-length" : "uncompressed") + " descriptor " +
           std::to_string(descriptor) + (withIdAndColourMap ? " with id and colour map" : "");
  }
};

// Pixels in stored order, repeating the one before about half the time so
// that run packets have something to encode.
inline std::vector<Pixel32> randomPixels(std::mt19937& rng, std::size_t count) {
  std::vector<Pixel32> pixels(count);
  for (std::size_t i = 0; i < count; ++i) {
    pixels[i] = i > 0 && rng() % 2 == 0 ? pixels[i - 1] : rng() & 0x00FFFFFFu;
  }
  return pixels;
}

// Packets of random length over the whole sequence, blind to rows: a run
// wherever the next pixels repeat, raw packets elsewhere.
inline void appendRunLengthPackets(std::mt19937& rng, const std::vector<Pixel32>& pixels,
                                   std::uint8_t bitsPerPixel, std::vector<std::uint8_t>& out) {
  const auto appendPixel = [&](Pixel32 pixel) {
    out.push_back(blueOf(pixel));
    out.push_back(greenOf(pixel));
    out.push_back(redOf(pixel));
    if (bitsPerPixel == 32) out.push_back(static_cast<std::uint8_t>(rng()));  // the file's alpha: dropped
  };
  std::size_t i = 0;
  while (i < pixels.size()) {
    std::size_t run = 1;
    while (i + run < pixels.size() && run < 128 && pixels[i + run] == pixels[i]) ++run;
    if (run > 1) {
      out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
      appendPixel(pixels[i]);
    } else {
      run = std::min<std::size_t>(1 + rng() % 128, pixels.size() - i);
      out.push_back(static_cast<std::uint8_t>(run - 1));
      for (std::size_t k = 0; k < run; ++k) appendPixel(pixels[i + k]);
    }
    i += run;
  }
  // Now and then a last packet that reaches past the picture.
  if (rng() % 4 == 0) {
    out.push_back(0x80 | 9);
    appendPixel(0x123456);
  }
}

inline std::vector<std::uint8_t> randomTga(std::mt19937& rng, const TgaShape& shape) {
  TgaBytes file(shape.width, shape.height, shape.bitsPerPixel);
  file.descriptor(shape.descriptor);
  if (shape.runLength) file.rle();
  if (shape.withIdAndColourMap) file.id(std::vector<std::uint8_t>(13, 0x49)).colourMap(5, 24);
  const std::vector<Pixel32> pixels = randomPixels(rng, std::size_t{shape.width} * shape.height);
  if (!shape.runLength) file.pixels(pixels, static_cast<std::uint8_t>(rng()));
  std::vector<std::uint8_t> bytes = file.bytes();
  if (shape.runLength) appendRunLengthPackets(rng, pixels, shape.bitsPerPixel, bytes);
  return bytes;
}

// The shapes every equivalence test runs over: the preview's own size and
// its neighbours, tiny and odd sizes, long thin ones, every origin, both
// encodings and depths.
inline std::vector<TgaShape> equivalenceShapes(std::mt19937& rng) {
  std::vector<TgaShape> shapes;
  const std::uint16_t sizes[][2] = {{1, 1},     {3, 2},   {2, 3},   {240, 160}, {241, 161},
                                    {239, 159}, {7, 300}, {500, 3}, {1000, 1},  {1, 1000}};
  for (const auto& size : sizes) {
    for (const std::uint8_t descriptor : {0x00, 0x10, 0x20, 0x30}) {
      for (const bool runLength : {false, true}) {
        TgaShape shape{size[0], size[1], rng() % 2 ? std::uint8_t{32} : std::uint8_t{24}, runLength, descriptor};
        shape.withIdAndColourMap = rng() % 3 == 0;
        shapes.push_back(shape);
      }
    }
  }
  for (int i = 0; i < 12; ++i) {
    shapes.push_back({static_cast<std::uint16_t>(1 + rng() % 700), static_cast<std::uint16_t>(1 + rng() % 500),
                      rng() % 2 ? std::uint8_t{32} : std::uint8_t{24}, rng() % 2 == 0,
                      static_cast<std::uint8_t>((rng() % 4) << 4), rng() % 3 == 0});
  }
  return shapes;
}

}  // namespace Kvl::Test

#pragma once
// The synthetic scene as Targa bytes: the 18-byte header and one encoded
// row at a time, uncompressed (type 2) or run-length (type 10, packets kept
// within a row), 24 bits per pixel.

#include <cstdint>
#include <vector>

#include "Scene.h"

namespace Kvl::Bench {

inline std::vector<std::uint8_t> sceneTgaHeader(std::uint32_t width, std::uint32_t height, int type,
                                                int descriptor = 0) {
  std::vector<std::uint8_t> header(18, 0);
  header[2] = static_cast<std::uint8_t>(type);
  header[12] = static_cast<std::uint8_t>(width);
  header[13] = static_cast<std::uint8_t>(width >> 8);
  header[14] = static_cast<std::uint8_t>(height);
  header[15] = static_cast<std::uint8_t>(height >> 8);
  header[16] = 24;
  header[17] = static_cast<std::uint8_t>(descriptor);
  return header;
}

namespace detail {

inline void appendColour(std::vector<std::uint8_t>& out, const SceneColour& c) {
  out.push_back(c.blue);
  out.push_back(c.green);
  out.push_back(c.red);
}

inline bool sameColour(const SceneColour& a, const SceneColour& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// Whether a run of at least three starts at `i`: shorter repeats go in raw packets.
inline bool runStarts(const std::vector<SceneColour>& row, std::size_t i) {
  return i + 2 < row.size() && sameColour(row[i], row[i + 1]) && sameColour(row[i], row[i + 2]);
}

inline void encodeRunLengthRow(const std::vector<SceneColour>& row, std::vector<std::uint8_t>& out) {
  std::size_t i = 0;
  while (i < row.size()) {
    std::size_t count = 1;
    if (runStarts(row, i)) {
      while (i + count < row.size() && count < 128 && sameColour(row[i + count], row[i])) ++count;
      out.push_back(static_cast<std::uint8_t>(0x80 | (count - 1)));
      appendColour(out, row[i]);
    } else {
      while (i + count < row.size() && count < 128 && !runStarts(row, i + count)) ++count;
      out.push_back(static_cast<std::uint8_t>(count - 1));
      for (std::size_t k = 0; k < count; ++k) appendColour(out, row[i + k]);
    }
    i += count;
  }
}

}  // namespace detail

// Appends the encoded row `y` (stored order, bottom-up) of the scene.
inline void appendSceneRow(std::vector<std::uint8_t>& out, std::uint32_t y, std::uint32_t width,
                           std::uint32_t height, int type) {
  std::vector<SceneColour> row(width);
  for (std::uint32_t x = 0; x < width; ++x) row[x] = scenePixel(x, y, width, height);
  if (type == 10) {
    detail::encodeRunLengthRow(row, out);
  } else {
    for (const SceneColour& c : row) detail::appendColour(out, c);
  }
}

inline std::vector<std::uint8_t> sceneTga(std::uint32_t width, std::uint32_t height, int type) {
  std::vector<std::uint8_t> file = sceneTgaHeader(width, height, type);
  for (std::uint32_t y = 0; y < height; ++y) appendSceneRow(file, y, width, height, type);
  return file;
}

}  // namespace Kvl::Bench

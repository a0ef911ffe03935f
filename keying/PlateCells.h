#pragma once
// What the plate keyer's fitting works on: the survey's cells as mean
// colours and spreads, and the small colour helpers the backdrop's choice
// and its fit share. Not for use outside the plate keyer.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "Pixel.h"

namespace Kvl::PlateFit {

using Colour = std::array<float, 3>;  // red, green, blue

// A channel's place in a colour, and the places of the two others.
inline std::size_t slotOf(KeyChannel channel) { return static_cast<std::size_t>(channel); }
inline std::pair<std::size_t, std::size_t> othersOf(KeyChannel channel) {
  if (channel == RedChannel) return {1, 2};
  if (channel == GreenChannel) return {0, 2};
  return {0, 1};
}

// Cells of a grid `columns` wide, row by row.
inline std::size_t cellIndex(int column, int row, int columns) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column);
}

inline float excessOf(const Colour& colour, KeyChannel channel) {
  const auto [a, b] = othersOf(channel);
  return colour[slotOf(channel)] - std::max(colour[a], colour[b]);
}

// Takes the share `spill` (0 to 1) of the backdrop `b`'s colour less its
// grey out of the foreground colour `f`: spill goes, the brightness stays.
inline void takeOutSpill(float* f, const float* b, float spill) {
  const float grey = (b[0] + b[1] + b[2]) * (1.0f / 3);
  for (std::size_t c = 0; c < 3; ++c) f[c] -= spill * (b[c] - grey);
}

inline Colour colourOf(Pixel32 pixel) {
  return {static_cast<float>(redOf(pixel)), static_cast<float>(greenOf(pixel)), static_cast<float>(blueOf(pixel))};
}

inline Colour chromaticityOf(const Colour& colour) {
  const float sum = colour[0] + colour[1] + colour[2];
  return {colour[0] / sum, colour[1] / sum, colour[2] / sum};
}

// Square roots are exact everywhere; hypot is not, and every build must
// choose the same backdrop.
inline float distance(const Colour& a, const Colour& b) {
  const float d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
}

// How far a colour lies from grey: the length of its chroma (Cb, Cr) as
// JPEG reckons it.
inline float chromaOf(const Colour& c) {
  const float cb = -0.168736f * c[0] - 0.331264f * c[1] + 0.5f * c[2];
  const float cr = 0.5f * c[0] - 0.418688f * c[1] - 0.081312f * c[2];
  return std::hypot(cb, cr);
}

// A compressed picture's colour, stored coarsely and at half resolution,
// rings and bleeds across an edge by an amount that grows with the
// quantisation step (`colourQuantisation`, PictureSource's) and with the
// colour's jump across the edge, which against most foregrounds is about
// the backdrop's own chroma: this, as a spread that adds to the noise,
// measured on 4:2:0 test plates of quality 50 to 95.
inline float compressionErrorOf(float backdropChroma, float colourQuantisation) {
  return colourQuantisation * backdropChroma / 64;
}

inline float spreadOf(const Colour& variance) { return variance[0] + variance[1] + variance[2]; }

inline float median(std::vector<float> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Cells darker than this (sum of the three means) say nothing of hue.
inline constexpr float DarkestUsableCell = 24;

// The survey's cells as mean colours and per-channel variances, on a grid
// `columns` x `rows`.
struct CellStats {
  int columns = 0;
  int rows = 0;
  std::vector<Colour> mean;
  std::vector<Colour> variance;
  std::vector<bool> measured;

  bool onBorder(std::size_t index) const {
    const auto column = static_cast<int>(index % static_cast<std::size_t>(columns));
    const auto row = static_cast<int>(index / static_cast<std::size_t>(columns));
    return column == 0 || row == 0 || column == columns - 1 || row == rows - 1;
  }
};

// Which cells may be backdrop keyed on `channel` at all: measured, not
// black, and not short of the key channel.
inline std::vector<bool> keyedCells(const CellStats& stats, KeyChannel channel) {
  std::vector<bool> usable(stats.mean.size());
  for (std::size_t i = 0; i < usable.size(); ++i) {
    const Colour& m = stats.mean[i];
    usable[i] = stats.measured[i] && m[0] + m[1] + m[2] > DarkestUsableCell && excessOf(m, channel) >= 0;
  }
  return usable;
}

}  // namespace Kvl::PlateFit

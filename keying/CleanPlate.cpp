#include "CleanPlate.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Kvl {
namespace {

// The surest mark backdropMedianOfFrames is given: the pixel's whole
// neighbourhood keyed nearly clear.
constexpr std::uint8_t SurelyClear = 2;

constexpr std::uint32_t Reach = 2;  // the box is 2 * Reach + 1 pixels wide (boxLine writes out its sum)

// One channel's box sum along a row of `count` values, as the mean over
// the part of the box inside the picture.
void boxLine(const std::uint16_t* in, std::uint16_t* out, std::uint32_t count) {
  constexpr std::uint32_t Box = 2 * Reach + 1;
  const auto boxAt = [&](std::uint32_t i) {
    const std::uint32_t first = i < Reach ? 0 : i - Reach;
    const std::uint32_t end = std::min(count, i + Reach + 1);
    std::uint32_t sum = 0;
    for (std::uint32_t j = first; j < end; ++j) sum += in[j];
    out[i] = static_cast<std::uint16_t>((sum + (end - first) / 2) / (end - first));
  };
  if (count <= 2 * Box) {
    for (std::uint32_t i = 0; i < count; ++i) boxAt(i);
    return;
  }
  // The whole box inside: a divisor the compiler knows.
  for (std::uint32_t i = Reach; i + Reach < count; ++i) {
    const std::uint32_t sum = std::uint32_t{in[i - 2]} + in[i - 1] + in[i] + in[i + 1] + in[i + 2];
    out[i] = static_cast<std::uint16_t>((sum + Box / 2) / Box);
  }
  for (std::uint32_t i : {0u, 1u, count - 2, count - 1}) boxAt(i);
}

// Row `y` of the box down the columns: the same sums as boxLine down each
// column, taken a whole row at a time, so that memory is read in order.
void boxRows(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height, std::uint32_t y) {
  const std::uint32_t first = y < Reach ? 0 : y - Reach;
  const std::uint32_t end = std::min(height, y + Reach + 1);
  const std::uint32_t count = end - first;
  std::vector<std::uint32_t> sum(width, count / 2);
  for (std::uint32_t row = first; row < end; ++row) {
    const std::uint16_t* line = in + std::size_t{row} * width;
    for (std::uint32_t x = 0; x < width; ++x) sum[x] += line[x];
  }
  if (count == 2 * Reach + 1) {  // most rows: a divisor the compiler knows is a multiplication
    for (std::uint32_t x = 0; x < width; ++x) out[x] = static_cast<std::uint16_t>(sum[x] / (2 * Reach + 1));
    return;
  }
  for (std::uint32_t x = 0; x < width; ++x) out[x] = static_cast<std::uint16_t>(sum[x] / count);
}

// One exposure's noise per channel from what the smoothing took out: the
// median of the squared colour difference between each pixel and its
// smoothed self, over the 2.37 a chi-square of three degrees of freedom has
// as its median. Counted in integers, so the same on every machine; the
// median, so that the edges of a crease or a shadow do not count.
float noiseOf(const std::vector<Pixel32>& raw, const std::vector<Pixel32>& smoothed) {
  constexpr std::uint32_t Largest = 3 * 255 * 255;
  std::vector<std::uint32_t> histogram(4096, 0);
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::uint32_t squared = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const int d = static_cast<int>((raw[i] >> shift) & 0xFF) - static_cast<int>((smoothed[i] >> shift) & 0xFF);
      squared += static_cast<std::uint32_t>(d * d);
    }
    ++histogram[std::min<std::uint32_t>(squared, static_cast<std::uint32_t>(histogram.size() - 1))];
  }
  static_assert(Largest > 4095, "the histogram's last bin holds the rest");
  std::size_t seen = 0, median = 0;
  while (median + 1 < histogram.size() && (seen += histogram[median]) * 2 < raw.size()) ++median;
  return std::sqrt(static_cast<float>(median) / 2.366f);
}

}  // namespace

CleanPlate smoothedCleanPlate(std::vector<Pixel32> pixels, std::uint32_t width, std::uint32_t height) {
  CleanPlate plate{width, height, std::move(pixels), 0, {}};
  const std::size_t count = std::size_t{width} * height;
  if (plate.pixels.size() != count || count == 0) return plate;
  plate.unsmoothed = plate.pixels;
  const std::vector<Pixel32>& raw = plate.unsmoothed;
  std::vector<std::uint16_t> channel(count), across(count), down(count);
  std::array<std::vector<std::uint16_t>, 3> smoothed;
  for (int c = 0; c < 3; ++c) {
    const int shift = 16 - 8 * c;
    for (std::size_t i = 0; i < count; ++i) channel[i] = static_cast<std::uint16_t>((plate.pixels[i] >> shift) & 0xFF);
    for (std::uint32_t y = 0; y < height; ++y) {
      boxLine(channel.data() + std::size_t{y} * width, across.data() + std::size_t{y} * width, width);
    }
    for (std::uint32_t y = 0; y < height; ++y) boxRows(across.data(), down.data() + std::size_t{y} * width, width, height, y);
    smoothed[static_cast<std::size_t>(c)] = down;
  }
  for (std::size_t i = 0; i < count; ++i) {
    plate.pixels[i] = makePixel(static_cast<std::uint8_t>(smoothed[0][i]), static_cast<std::uint8_t>(smoothed[1][i]),
                                static_cast<std::uint8_t>(smoothed[2][i]));
  }
  plate.noise = noiseOf(raw, plate.pixels);
  return plate;
}

std::vector<Pixel32> medianOfFrames(const std::vector<std::vector<Pixel32>>& frames, std::uint32_t width,
                                    std::uint32_t height) {
  const std::size_t count = std::size_t{width} * height;
  std::vector<const std::vector<Pixel32>*> whole;  // frames of the right size only
  for (const auto& frame : frames) {
    if (frame.size() == count) whole.push_back(&frame);
  }
  std::vector<Pixel32> median(count);
  std::vector<std::uint8_t> values(whole.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::array<std::uint8_t, 3> middle{};
    for (int c = 0; c < 3; ++c) {
      const int shift = 16 - 8 * c;
      for (std::size_t f = 0; f < whole.size(); ++f) values[f] = static_cast<std::uint8_t>(((*whole[f])[i] >> shift) & 0xFF);
      const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
      std::nth_element(values.begin(), at, values.end());
      middle[static_cast<std::size_t>(c)] = values.empty() ? 0 : *at;
    }
    median[i] = makePixel(middle[0], middle[1], middle[2]);
  }
  return median;
}

std::vector<Pixel32> backdropMedianOfFrames(const std::vector<std::vector<Pixel32>>& frames,
                                            const std::vector<std::vector<std::uint8_t>>& backdrop,
                                            const std::vector<Pixel32>& fallback, std::uint32_t width,
                                            std::uint32_t height) {
  const std::size_t count = std::size_t{width} * height;
  std::vector<Pixel32> median(fallback.size() == count ? fallback : std::vector<Pixel32>(count, 0));
  std::vector<std::size_t> whole;  // the frames, and their marks, of the right size
  for (std::size_t f = 0; f < frames.size() && f < backdrop.size(); ++f) {
    if (frames[f].size() == count && backdrop[f].size() == count) whole.push_back(f);
  }
  std::vector<std::uint8_t> values;
  for (std::size_t i = 0; i < count; ++i) {
    // Only the frames of the surest mark this pixel has: where some frames
    // show it surely clear, the frames where a strand of hair passed it by
    // half covered say nothing of the backdrop. A pixel never surely clear
    // counts only where at least half the frames show it: a crease the
    // model misses is there in every frame the subject leaves it, while the
    // edge of a swaying subject covers a pixel as often as it shows it.
    std::uint8_t surest = 0;
    std::size_t showing = 0;
    for (std::size_t f : whole) {
      surest = std::max(surest, backdrop[f][i]);
      if (backdrop[f][i] != 0) ++showing;
    }
    if (surest == 0 || (surest < SurelyClear && 2 * showing < whole.size())) continue;
    std::array<std::uint8_t, 3> middle{};
    for (int c = 0; c < 3; ++c) {
      const int shift = 16 - 8 * c;
      values.clear();
      for (std::size_t f : whole) {
        if (backdrop[f][i] == surest) values.push_back(static_cast<std::uint8_t>((frames[f][i] >> shift) & 0xFF));
      }
      const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
      std::nth_element(values.begin(), at, values.end());
      middle[static_cast<std::size_t>(c)] = *at;
    }
    median[i] = makePixel(middle[0], middle[1], middle[2]);
  }
  return median;
}

CleanPlate cleanPlateOfFrames(const std::vector<std::vector<Pixel32>>& frames, std::uint32_t width,
                              std::uint32_t height) {
  return smoothedCleanPlate(medianOfFrames(frames, width, height), width, height);
}

}  // namespace Kvl

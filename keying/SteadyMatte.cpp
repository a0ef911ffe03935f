#include "SteadyMatte.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace Kvl {
namespace {

using Colour = std::array<float, 3>;
using Coordinate = std::int64_t;  // pixel places and moves, signed

// Each pixel's difference from `then`, summed over its three channels (0..765).
std::vector<std::uint16_t> channelDifferences(const Pixel32* now, const Pixel32* then, std::size_t count) {
  std::vector<std::uint16_t> difference(count);
  for (std::size_t i = 0; i < count; ++i) {
    difference[i] = static_cast<std::uint16_t>(std::abs(redOf(now[i]) - redOf(then[i])) +
                                               std::abs(greenOf(now[i]) - greenOf(then[i])) +
                                               std::abs(blueOf(now[i]) - blueOf(then[i])));
  }
  return difference;
}

// Sums of each pixel's 3 x 3 neighbourhood (0..6885), the border repeated:
// noise averages out over nine pixels, while a strand one pixel wide that
// moved still differs at its own place.
std::vector<std::uint16_t> neighbourhoodSums(const std::vector<std::uint16_t>& values, std::uint32_t width,
                                             std::uint32_t height) {
  std::vector<std::uint16_t> across(values.size()), sums(values.size());
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint16_t* row = values.data() + std::size_t{y} * width;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t left = x > 0 ? x - 1 : 0, right = x + 1 < width ? x + 1 : x;
      across[std::size_t{y} * width + x] = static_cast<std::uint16_t>(row[left] + row[x] + row[right]);
    }
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint32_t up = y > 0 ? y - 1 : 0, down = y + 1 < height ? y + 1 : y;
    for (std::uint32_t x = 0; x < width; ++x) {
      sums[std::size_t{y} * width + x] = static_cast<std::uint16_t>(
          across[std::size_t{up} * width + x] + across[std::size_t{y} * width + x] + across[std::size_t{down} * width + x]);
    }
  }
  return sums;
}

// The median of values from 0 to 6885, by counting.
std::uint32_t medianOf(const std::vector<std::uint16_t>& values) {
  std::vector<std::size_t> counts(9 * 765 + 1, 0);
  for (const std::uint16_t value : values) ++counts[value];
  std::size_t seen = 0;
  for (std::uint32_t value = 0; value < counts.size(); ++value) {
    seen += counts[value];
    if (2 * seen >= values.size()) return value;
  }
  return 0;
}

float excessOf(const Colour& c, KeyChannel channel) {
  const std::size_t k = static_cast<std::size_t>(channel);
  return c[k] - std::max(c[(k + 1) % 3], c[(k + 2) % 3]);
}

Colour colourOf(Pixel32 pixel) {
  return {static_cast<float>(redOf(pixel)), static_cast<float>(greenOf(pixel)), static_cast<float>(blueOf(pixel))};
}

std::uint32_t level(float value) { return static_cast<std::uint32_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

// The colour that, laid over the backdrop `b` at `alpha` (levels), gives
// the plate's pixel `p`; a clear pixel keeps its own colour, as in the key.
Colour unmixed(const Colour& p, const Colour& b, std::uint32_t alpha) {
  if (alpha == 0) return p;
  const float a = static_cast<float>(alpha) / 255.0f;
  Colour f{};
  for (std::size_t c = 0; c < 3; ++c) f[c] = (p[c] - (1.0f - a) * b[c]) / a;
  return f;
}

// The pixel at its new alpha. The key took spill out of it (its colour
// has less key-channel excess than the plain un-mix at the key's alpha
// gives) unless the hue made it foreground; that choice is kept.
Pixel32 rekeyed(Pixel32 platePixel, Pixel32 keyedPixel, const Colour& b, std::uint32_t alpha, KeyChannel channel) {
  const Colour p = colourOf(platePixel);
  const float keyedExcess = excessOf(colourOf(keyedPixel), channel);
  const bool despilled = keyedExcess + 1.0f < excessOf(unmixed(p, b, alphaOf(keyedPixel)), channel);
  Colour f = unmixed(p, b, alpha);
  const float backdropExcess = excessOf(b, channel);
  if (despilled && backdropExcess > 1) {
    const float spill = std::min(std::max(excessOf(f, channel), 0.0f) / backdropExcess, 1.0f);
    const float grey = (b[0] + b[1] + b[2]) * (1.0f / 3);
    for (std::size_t c = 0; c < 3; ++c) f[c] -= spill * (b[c] - grey);
  }
  return level(f[0]) << 16 | level(f[1]) << 8 | level(f[2]) | alpha << 24;
}

// The 3 x 3 neighbourhood of (x, y) in `now` against that of (x + dx,
// y + dy) in `then`: the sum of their channel differences (0..6885), the
// border repeated.
struct Picture {
  const Pixel32* pixels;
  std::uint32_t width, height;
  Pixel32 at(Coordinate x, Coordinate y) const {
    const Coordinate cx = std::clamp(x, Coordinate{0}, Coordinate{width} - 1);
    const Coordinate cy = std::clamp(y, Coordinate{0}, Coordinate{height} - 1);
    return pixels[static_cast<std::size_t>(cy) * width + static_cast<std::size_t>(cx)];
  }
};

std::uint32_t patchDifference(const Picture& now, const Picture& then, Coordinate x, Coordinate y, Coordinate dx,
                              Coordinate dy) {
  std::uint32_t sum = 0;
  for (Coordinate j = -1; j <= 1; ++j) {
    for (Coordinate i = -1; i <= 1; ++i) {
      const Pixel32 a = now.at(x + i, y + j), b = then.at(x + i + dx, y + j + dy);
      sum += static_cast<std::uint32_t>(std::abs(redOf(a) - redOf(b)) + std::abs(greenOf(a) - greenOf(b)) +
                                        std::abs(blueOf(a) - blueOf(b)));
    }
  }
  return sum;
}

struct Match {
  std::uint32_t difference = ~0u;
  Coordinate dx = 0, dy = 0;
};

// The place near (x + centreX, y + centreY) in `then`, within `radius`,
// whose neighbourhood looks most like that of (x, y) in `now`: where the
// pixel's content came from if the subject moved. Candidates are tried
// nearest the centre first, the first within `goodEnough` (which counts
// fully) ends the search, and a later one wins only when strictly better,
// so the choice is the same on every machine.
Match bestMatch(const Picture& now, const Picture& then, Coordinate x, Coordinate y, Coordinate centreX,
                Coordinate centreY, Coordinate radius, std::uint32_t goodEnough) {
  Match best;
  for (Coordinate ring = 0; ring <= radius; ++ring) {
    for (Coordinate dy = -ring; dy <= ring; ++dy) {
      for (Coordinate dx = -ring; dx <= ring; ++dx) {
        if (std::max(std::abs(dx), std::abs(dy)) != ring) continue;
        const std::uint32_t d = patchDifference(now, then, x, y, centreX + dx, centreY + dy);
        if (d < best.difference) best = {d, centreX + dx, centreY + dy};
        if (best.difference <= goodEnough) return best;
      }
    }
  }
  return best;
}

// An earlier sample counts fully up to half as much again as the noise ...
std::uint32_t fullWeightUpTo(std::uint32_t noise) { return noise * 3 / 2; }

// ... and less and less up to three times the noise (0..255).
std::uint32_t weightOf(std::uint32_t difference, std::uint32_t noise) {
  const std::uint32_t full = fullWeightUpTo(noise), none = noise * 3;
  if (difference <= full) return 255;
  if (difference >= none) return 0;
  return (none - difference) * 255 / (none - full);
}

// The alpha of each unsure pixel (neither clear nor solid) averaged with
// the earlier frames' alpha where its neighbourhood came from, each
// weighed by how well the plate there matches; `changed` marks the pixels
// whose alpha moved.
std::vector<std::uint8_t> steadyAlphas(const Pixel32* plate, const Pixel32* keyed, std::uint32_t width,
                                       std::uint32_t height, const std::vector<const KeyedFrame*>& earlier,
                                       std::uint8_t backdropTolerance, std::vector<std::uint8_t>& changed) {
  const std::size_t count = std::size_t{width} * height;
  const std::size_t frames = std::min<std::size_t>(earlier.size(), SteadyWindow);
  std::vector<std::uint32_t> noise(frames);
  for (std::size_t k = 0; k < frames; ++k) {
    noise[k] = noiseBetween(plate, earlier[k]->plate.data(), width, height, backdropTolerance);
  }
  const Picture now{plate, width, height};
  std::vector<std::uint8_t> alphas(count);
  changed.assign(count, 0);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      const std::uint32_t own = alphaOf(keyed[i]);
      alphas[i] = static_cast<std::uint8_t>(own);
      if (own == 0 || own == 255) continue;
      std::uint32_t sum = 255 * own, weight = 255;
      Coordinate motionX = 0, motionY = 0;  // per frame, from the nearest earlier one
      for (std::size_t k = 0; k < frames; ++k) {
        const Picture then{earlier[k]->plate.data(), width, height};
        const Coordinate step = static_cast<Coordinate>(k) + 1;
        const std::uint32_t goodEnough = fullWeightUpTo(noise[k]);
        const Match m = k == 0 ? bestMatch(now, then, x, y, 0, 0, SteadySearch, goodEnough)
                               : bestMatch(now, then, x, y, motionX * step, motionY * step, 1, goodEnough);
        if (k == 0) motionX = m.dx, motionY = m.dy;
        const std::uint32_t w = weightOf(m.difference, noise[k]);
        const Coordinate fromX = std::clamp(Coordinate{x} + m.dx, Coordinate{0}, Coordinate{width} - 1);
        const Coordinate fromY = std::clamp(Coordinate{y} + m.dy, Coordinate{0}, Coordinate{height} - 1);
        sum += w * earlier[k]->alpha[static_cast<std::size_t>(fromY) * width + static_cast<std::size_t>(fromX)];
        weight += w;
      }
      alphas[i] = static_cast<std::uint8_t>((sum + weight / 2) / weight);
      changed[i] = alphas[i] != own ? 1 : 0;
    }
  }
  return alphas;
}

}  // namespace

KeyedFrame keyedFrameOf(const Pixel32* plate, const Pixel32* keyed, std::uint32_t width, std::uint32_t height) {
  const std::size_t count = std::size_t{width} * height;
  KeyedFrame frame;
  frame.plate.assign(plate, plate + count);
  frame.alpha.resize(count);
  for (std::size_t i = 0; i < count; ++i) frame.alpha[i] = alphaOf(keyed[i]);
  return frame;
}

std::uint32_t noiseBetween(const Pixel32* now, const Pixel32* then, std::uint32_t width, std::uint32_t height,
                           std::uint8_t backdropTolerance) {
  const std::vector<std::uint16_t> differences =
      neighbourhoodSums(channelDifferences(now, then, std::size_t{width} * height), width, height);
  // Mostly backdrop and still subject: the median is the noise of two
  // frames, 27 differences of about 1.13 sigma each. A picture that moved
  // all over (a pan) has a median far above that; the tolerance above the
  // backdrop's noise bounds it, so a pan is not taken for noise.
  // Compressed footage copies still blocks from frame to frame, so its
  // median says little about how much an edge's colours wander; the floor
  // is a third of the ceiling.
  const std::uint32_t ceiling = std::max(1u, 27u * backdropTolerance / 2u);
  const std::uint32_t floor = std::max(1u, 27u * backdropTolerance / 6u);
  return std::clamp(medianOf(differences), floor, ceiling);
}

void steadyMatte(const Pixel32* plate, Pixel32* keyed, std::uint32_t width, std::uint32_t height,
                 const std::vector<const KeyedFrame*>& earlier, const PlateSettings& settings) {
  const std::size_t count = std::size_t{width} * height;
  std::vector<const KeyedFrame*> usable;
  for (const KeyedFrame* frame : earlier) {
    if (frame != nullptr && frame->plate.size() == count && frame->alpha.size() == count) usable.push_back(frame);
  }
  if (usable.empty() || count == 0) return;
  std::vector<std::uint8_t> changed;
  const std::vector<std::uint8_t> alphas =
      steadyAlphas(plate, keyed, width, height, usable, settings.backdropTolerance, changed);
  PlateKeyer keyer(settings, width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::size_t rowStart = std::size_t{y} * width;
    if (std::find(changed.begin() + static_cast<std::ptrdiff_t>(rowStart),
                  changed.begin() + static_cast<std::ptrdiff_t>(rowStart + width), 1) ==
        changed.begin() + static_cast<std::ptrdiff_t>(rowStart + width)) {
      continue;
    }
    const float* backdrop = keyer.backdropOf(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = rowStart + x;
      if (!changed[i]) continue;
      const Colour b{backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
      keyed[i] = rekeyed(plate[i], keyed[i], b, alphas[i], settings.channel);
    }
  }
}

}  // namespace Kvl

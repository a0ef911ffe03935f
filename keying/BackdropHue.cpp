#include "BackdropHue.h"

#include <algorithm>

namespace Kvl::PlateFit {
namespace {

// Chromaticity (r, b) histogram of the cells: Bins x Bins.
constexpr int Bins = 50;
// The regions weighed: the histogram's highest peaks, each at least this
// many bins from a higher one.
constexpr int MaxRegions = 6;
constexpr int PeakSeparation = 3;
// A cell belongs to a peak's region this close to the peak's hue.
constexpr float RegionReach = 2.5f / Bins;
// The border counts fully; the inside of the picture, where a subject
// stands, this much.
constexpr float InsideWeight = 0.25f;

int binOf(float value) { return std::clamp(static_cast<int>(value * Bins), 0, Bins - 1); }
float binCentre(int bin) { return (static_cast<float>(bin) + 0.5f) / Bins; }

struct Bin {
  int r = 0, b = 0;
};

// Each bin's votes: the cells in it and in its eight neighbours, so that a
// peak split by a bin edge still counts whole.
std::vector<int> votesOf(const CellStats& stats, const std::vector<bool>& usable) {
  std::vector<int> histogram(cellIndex(0, Bins, Bins));
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (!usable[i]) continue;
    const Colour q = chromaticityOf(stats.mean[i]);
    ++histogram[cellIndex(binOf(q[2]), binOf(q[0]), Bins)];
  }
  std::vector<int> votes(histogram.size());
  for (int r = 0; r < Bins; ++r) {
    for (int b = 0; b < Bins; ++b) {
      int sum = 0;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int db = -1; db <= 1; ++db) {
          const int rr = r + dr, bb = b + db;
          if (rr >= 0 && rr < Bins && bb >= 0 && bb < Bins) sum += histogram[cellIndex(bb, rr, Bins)];
        }
      }
      votes[cellIndex(b, r, Bins)] = sum;
    }
  }
  return votes;
}

// The highest peaks, highest first (the first in the scan on a tie), each
// clearing the bins around it before the next is sought.
std::vector<Bin> peaksOf(std::vector<int> votes, int fewestVotes) {
  std::vector<Bin> peaks;
  while (static_cast<int>(peaks.size()) < MaxRegions) {
    int best = -1;
    Bin at;
    for (int r = 0; r < Bins; ++r) {
      for (int b = 0; b < Bins; ++b) {
        if (votes[cellIndex(b, r, Bins)] > best) best = votes[cellIndex(b, r, Bins)], at = {r, b};
      }
    }
    if (best < fewestVotes) break;
    peaks.push_back(at);
    for (int r = std::max(0, at.r - PeakSeparation); r <= std::min(Bins - 1, at.r + PeakSeparation); ++r) {
      for (int b = std::max(0, at.b - PeakSeparation); b <= std::min(Bins - 1, at.b + PeakSeparation); ++b) {
        votes[cellIndex(b, r, Bins)] = -1;
      }
    }
  }
  return peaks;
}

bool within(const Colour& q, const Colour& centre, float reach) {
  return std::abs(q[0] - centre[0]) <= reach && std::abs(q[2] - centre[2]) <= reach;
}

// A peak's hue: the mean chromaticity of the cells near it.
Colour hueNear(const CellStats& stats, const std::vector<bool>& usable, Bin peak) {
  const Colour centre{binCentre(peak.r), 0, binCentre(peak.b)};
  Colour sum{};
  int count = 0;
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (!usable[i]) continue;
    const Colour q = chromaticityOf(stats.mean[i]);
    if (std::abs(q[0] - centre[0]) > 1.5f / Bins || std::abs(q[2] - centre[2]) > 1.5f / Bins) continue;
    for (std::size_t c = 0; c < 3; ++c) sum[c] += q[c];
    ++count;
  }
  const auto n = static_cast<float>(std::max(count, 1));
  return {sum[0] / n, sum[1] / n, sum[2] / n};
}

// A cell's spread that counts as smooth: four times that of the smoothest
// quarter of the lit cells, and some levels for a cell the light changes
// across. Fur, faces and foliage vary far more within a cell.
float smoothSpread(const CellStats& stats) {
  std::vector<float> spreads;
  for (std::size_t i = 0; i < stats.mean.size(); ++i) {
    const Colour& m = stats.mean[i];
    if (stats.measured[i] && m[0] + m[1] + m[2] > DarkestUsableCell) spreads.push_back(spreadOf(stats.variance[i]));
  }
  if (spreads.empty()) return 16;
  const auto quarter = spreads.begin() + static_cast<std::ptrdiff_t>(spreads.size() / 4);
  std::nth_element(spreads.begin(), quarter, spreads.end());
  return 4 * *quarter + 16;
}

// A cell's saturation, less where it is dark: a dark cell's hue is mostly
// noise.
float litSaturation(const Colour& mean) {
  return saturationOf(mean) * std::min(1.0f, std::max({mean[0], mean[1], mean[2]}) / 96);
}

struct Region {
  BackdropHue hue;
  float score = 0;
  float saturation = 0;  // of its cells, on average, less where they are dark
};

// A region's score: its cells' likeness to backdrop (lit saturation, less
// where a cell is busy), as a share of the border's cells, and a quarter
// as much as a share of the inside's.
void score(Region& region, const CellStats& stats, const std::vector<bool>& usable, float smooth) {
  float border = 0, inside = 0, saturation = 0;
  int borderCells = 0, insideCells = 0, cells = 0;
  for (std::size_t i = 0; i < usable.size(); ++i) {
    const bool edge = stats.onBorder(i);
    (edge ? borderCells : insideCells) += 1;
    if (!usable[i] || !within(chromaticityOf(stats.mean[i]), region.hue.chromaticity, RegionReach)) continue;
    const float lit = litSaturation(stats.mean[i]);
    const float calm = std::min(1.0f, smooth / std::max(spreadOf(stats.variance[i]), 1e-3f));
    (edge ? border : inside) += lit * calm;
    saturation += lit;
    ++cells;
  }
  const float borderShare = borderCells > 0 ? border / static_cast<float>(borderCells) : 0;
  const float insideShare = insideCells > 0 ? inside / static_cast<float>(insideCells) : 0;
  region.score = borderShare + InsideWeight * insideShare;
  region.saturation = cells > 0 ? saturation / static_cast<float>(cells) : 0;
}

// Every region of one hue among the cells keyed on `channel`.
std::vector<Region> regionsOf(const CellStats& stats, KeyChannel channel, float smooth) {
  const std::vector<bool> usable = keyedCells(stats, channel);
  const int fewest = std::max(2, static_cast<int>(usable.size() / 100));
  std::vector<Region> regions;
  for (const Bin peak : peaksOf(votesOf(stats, usable), fewest)) {
    Region region;
    region.hue = {channel, hueNear(stats, usable, peak)};
    score(region, stats, usable, smooth);
    regions.push_back(region);
  }
  return regions;
}

// The channel a named colour is keyed on: the one it has most excess of.
KeyChannel channelOf(const Colour& colour) {
  KeyChannel best = GreenChannel;
  for (const KeyChannel channel : {BlueChannel, RedChannel}) {
    if (excessOf(colour, channel) > excessOf(colour, best)) best = channel;
  }
  return best;
}

std::optional<BackdropHue> namedHue(const CellStats& stats, std::optional<KeyChannel> channel, Pixel32 screen,
                                    std::string& refusal) {
  const Colour colour = colourOf(screen);
  BackdropHue hue{channel.value_or(channelOf(colour)), {}};
  if (excessOf(colour, hue.channel) <= 0 || saturationOf(colour) < MinimumScreenSaturation / 2) {
    refusal = "the --screen colour is no backdrop colour: it has no channel well above the other two";
    return std::nullopt;
  }
  hue.chromaticity = chromaticityOf(colour);
  // The nearest region's own hue, when there is one close by.
  float nearest = 0.04f;
  for (const Region& region : regionsOf(stats, hue.channel, smoothSpread(stats))) {
    const float d = distance(region.hue.chromaticity, chromaticityOf(colour));
    if (d < nearest) nearest = d, hue.chromaticity = region.hue.chromaticity;
  }
  return hue;
}

}  // namespace

float saturationOf(const Colour& colour) {
  const float high = std::max({colour[0], colour[1], colour[2]});
  const float low = std::min({colour[0], colour[1], colour[2]});
  return high > 0 ? (high - low) / high : 0;
}

std::optional<BackdropHue> findBackdropHue(const CellStats& stats, std::optional<KeyChannel> channel,
                                           std::optional<Pixel32> screen, std::string& refusal) {
  if (screen) return namedHue(stats, channel, *screen, refusal);
  const float smooth = smoothSpread(stats);
  std::optional<Region> best;
  // Green first, then blue, then red: the order a tie goes.
  for (const KeyChannel candidate : {GreenChannel, BlueChannel, RedChannel}) {
    if (channel && *channel != candidate) continue;
    for (const Region& region : regionsOf(stats, candidate, smooth)) {
      if (region.saturation < MinimumScreenSaturation) continue;
      if (!best || region.score > best->score) best = region;
    }
  }
  if (!best || best->score <= 0) {
    refusal = "no backdrop found: no large, smooth, saturated region of one hue" +
              std::string(channel ? " keyed on that --channel" : "") +
              "; name the backdrop's colour with --screen '#RRGGBB'";
    return std::nullopt;
  }
  return best->hue;
}

}  // namespace Kvl::PlateFit

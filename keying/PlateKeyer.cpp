#include "PlateKeyer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

#include "WideVersions.h"

namespace Kvl {
namespace {

using Colour = std::array<float, 3>;  // red, green, blue

// The model's grid for a picture: MaxBackdropCells on the longer side, the
// other in proportion, never more cells than pixels.
std::pair<int, int> gridFor(std::uint32_t width, std::uint32_t height) {
  const double longer = std::max(width, height);
  const auto side = [&](std::uint32_t length) {
    const double cells = std::round(MaxBackdropCells * (length / longer));
    return static_cast<int>(std::clamp<double>(cells, 1, std::min<double>(MaxBackdropCells, length)));
  };
  return {side(width), side(height)};
}

// A channel's place in a colour, and the places of the two others.
std::size_t slotOf(KeyChannel channel) { return static_cast<std::size_t>(channel); }
std::pair<std::size_t, std::size_t> othersOf(KeyChannel channel) {
  if (channel == RedChannel) return {1, 2};
  if (channel == GreenChannel) return {0, 2};
  return {0, 1};
}

// Cells of a grid `columns` wide, row by row.
std::size_t cellIndex(int column, int row, int columns) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(column);
}

float excessOf(const Colour& colour, KeyChannel channel) {
  const auto [a, b] = othersOf(channel);
  return colour[slotOf(channel)] - std::max(colour[a], colour[b]);
}

Colour colourOf(Pixel32 pixel) {
  return {static_cast<float>(redOf(pixel)), static_cast<float>(greenOf(pixel)), static_cast<float>(blueOf(pixel))};
}

std::uint8_t toLevel(float value) { return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

Pixel32 pixelOf(const Colour& colour) { return makePixel(toLevel(colour[0]), toLevel(colour[1]), toLevel(colour[2])); }

float median(std::vector<float> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The survey's cells as mean colours and per-channel variances.
struct CellStats {
  std::vector<Colour> mean;
  std::vector<Colour> variance;
  std::vector<bool> measured;
};

CellStats statsOf(const BackdropSurvey& survey) {
  const std::size_t count = cellIndex(0, survey.rows(), survey.columns());
  CellStats stats{std::vector<Colour>(count), std::vector<Colour>(count), std::vector<bool>(count)};
  for (int row = 0; row < survey.rows(); ++row) {
    for (int column = 0; column < survey.columns(); ++column) {
      const BackdropSurvey::Cell& cell = survey.cell(column, row);
      const std::size_t index = cellIndex(column, row, survey.columns());
      if (cell.count == 0) continue;
      stats.measured[index] = true;
      const double n = static_cast<double>(cell.count);
      for (std::size_t c = 0; c < 3; ++c) {
        const double mean = static_cast<double>(cell.sum[c]) / n;
        stats.mean[index][c] = static_cast<float>(mean);
        stats.variance[index][c] =
            static_cast<float>(std::max(0.0, static_cast<double>(cell.sumOfSquares[c]) / n - mean * mean));
      }
    }
  }
  return stats;
}

// The channel whose excess over the other two, summed over the cells, is
// largest: the backdrop's, as the backdrop is most of a plate.
KeyChannel backdropChannel(const CellStats& stats) {
  std::array<double, 3> total{};
  for (std::size_t i = 0; i < stats.mean.size(); ++i) {
    if (!stats.measured[i]) continue;
    for (const KeyChannel channel : {RedChannel, GreenChannel, BlueChannel}) {
      total[slotOf(channel)] += std::max(0.0f, excessOf(stats.mean[i], channel));
    }
  }
  if (total[GreenChannel] >= total[BlueChannel] && total[GreenChannel] >= total[RedChannel]) return GreenChannel;
  return total[BlueChannel] >= total[RedChannel] ? BlueChannel : RedChannel;
}

Colour chromaticityOf(const Colour& colour) {
  const float sum = colour[0] + colour[1] + colour[2];
  return {colour[0] / sum, colour[1] / sum, colour[2] / sum};
}

// Square roots are exact everywhere; hypot is not, and every build must
// choose the same backdrop.
float distance(const Colour& a, const Colour& b) {
  const float d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
  return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
}

// Cells darker than this (sum of the three means) say nothing of hue.
constexpr float DarkestUsableCell = 24;

// Which cells may be backdrop at all: measured, not black, and not short
// of the key channel.
std::vector<bool> keyedCells(const CellStats& stats, KeyChannel channel) {
  std::vector<bool> usable(stats.mean.size());
  for (std::size_t i = 0; i < usable.size(); ++i) {
    const Colour& m = stats.mean[i];
    usable[i] = stats.measured[i] && m[0] + m[1] + m[2] > DarkestUsableCell && excessOf(m, channel) >= 0;
  }
  return usable;
}

// The backdrop's hue, brightness aside: the most common chromaticity among
// the usable cells, found on a histogram, then averaged over the cells
// near that peak. Light that falls off or a shadow changes a backdrop's
// brightness, hardly its chromaticity.
Colour backdropChromaticity(const CellStats& stats, const std::vector<bool>& usable) {
  constexpr int Bins = 50;
  std::vector<int> histogram(cellIndex(0, Bins, Bins));
  const auto binOf = [](float value) { return std::clamp(static_cast<int>(value * Bins), 0, Bins - 1); };
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (!usable[i]) continue;
    const Colour q = chromaticityOf(stats.mean[i]);
    ++histogram[cellIndex(binOf(q[2]), binOf(q[0]), Bins)];
  }
  int best = -1, bestR = 0, bestB = 0;
  for (int r = 0; r < Bins; ++r) {
    for (int b = 0; b < Bins; ++b) {
      int votes = 0;  // the bin and its neighbours, so a peak split by a bin edge still wins
      for (int dr = -1; dr <= 1; ++dr) {
        for (int db = -1; db <= 1; ++db) {
          const int rr = r + dr, bb = b + db;
          if (rr >= 0 && rr < Bins && bb >= 0 && bb < Bins) votes += histogram[cellIndex(bb, rr, Bins)];
        }
      }
      if (votes > best) best = votes, bestR = r, bestB = b;
    }
  }
  const auto centre = [](int bin) { return (static_cast<float>(bin) + 0.5f) / Bins; };
  const Colour peak{centre(bestR), 0, centre(bestB)};
  Colour sum{};
  int count = 0;
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (!usable[i]) continue;
    const Colour q = chromaticityOf(stats.mean[i]);
    if (std::abs(q[0] - peak[0]) > 1.5f / Bins || std::abs(q[2] - peak[2]) > 1.5f / Bins) continue;
    for (std::size_t c = 0; c < 3; ++c) sum[c] += q[c];
    ++count;
  }
  const auto n = static_cast<float>(count);
  return {sum[0] / n, sum[1] / n, sum[2] / n};
}

float spreadOf(const Colour& variance) { return variance[0] + variance[1] + variance[2]; }

// The cells that are surely backdrop: usable, of the backdrop's hue within
// a tolerance taken from how far the backdrop's own cells stray, and no
// busier inside than backdrop is.
std::vector<bool> backdropCells(const CellStats& stats, const std::vector<bool>& usable) {
  const Colour hue = backdropChromaticity(stats, usable);
  std::vector<float> distances(usable.size(), 1.0f);
  std::vector<float> near;
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (!usable[i]) continue;
    distances[i] = distance(chromaticityOf(stats.mean[i]), hue);
    if (distances[i] < 0.06f) near.push_back(distances[i]);
  }
  // The nearest cell is always in: cells spread over the peak's bins can
  // all lie further from their mean than the least tolerance.
  float nearest = 1.0f;
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (usable[i]) nearest = std::min(nearest, distances[i]);
  }
  const float tolerance = std::max(std::clamp(4 * 1.4826f * median(near), 0.012f, 0.04f), nearest * 1.001f + 1e-6f);
  std::vector<bool> backdrop(usable.size());
  for (std::size_t i = 0; i < usable.size(); ++i) backdrop[i] = usable[i] && distances[i] < tolerance;

  // A cell that holds an edge of the foreground, even one of the backdrop's
  // hue (dark hair only darkens it), varies far more within itself than
  // the plate's noise and the light's slow change do.
  std::vector<float> spreads;
  for (std::size_t i = 0; i < backdrop.size(); ++i) {
    if (backdrop[i]) spreads.push_back(spreadOf(stats.variance[i]));
  }
  const float calm = 4 * median(spreads) + 4;
  std::vector<bool> clean(backdrop.size());
  std::size_t cleanCount = 0;
  for (std::size_t i = 0; i < backdrop.size(); ++i) {
    clean[i] = backdrop[i] && spreadOf(stats.variance[i]) <= calm;
    cleanCount += clean[i];
  }
  // A plate with only a little backdrop showing keeps it all rather than lose it.
  return cleanCount * 4 >= spreads.size() && cleanCount > 0 ? clean : backdrop;
}

// Fills the cells that are not known from those that are: first each empty
// cell takes its parent's value on a pyramid of ever coarser grids (so every
// hole is reached at once), then repeated averaging with the four neighbours
// smooths the fill into a membrane across the hole, the known cells held.
void fillBackdrop(std::vector<Colour>& values, const std::vector<bool>& known, int columns, int rows) {
  if (std::none_of(known.begin(), known.end(), [](bool k) { return k; })) return;  // nothing to fill from
  struct Level {
    int columns, rows;
    std::vector<Colour> sum;
    std::vector<float> weight;
  };
  std::vector<Level> levels{{columns, rows, {}, {}}};
  levels[0].sum.resize(values.size());
  levels[0].weight.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!known[i]) continue;
    levels[0].sum[i] = values[i];
    levels[0].weight[i] = 1;
  }
  while (levels.back().columns > 1 || levels.back().rows > 1) {
    const Level& fine = levels.back();
    Level coarse{(fine.columns + 1) / 2, (fine.rows + 1) / 2, {}, {}};
    coarse.sum.resize(cellIndex(0, coarse.rows, coarse.columns));
    coarse.weight.resize(coarse.sum.size());
    for (int y = 0; y < fine.rows; ++y) {
      for (int x = 0; x < fine.columns; ++x) {
        const std::size_t from = cellIndex(x, y, fine.columns);
        const std::size_t to = cellIndex(x / 2, y / 2, coarse.columns);
        for (std::size_t c = 0; c < 3; ++c) coarse.sum[to][c] += fine.sum[from][c];
        coarse.weight[to] += fine.weight[from];
      }
    }
    levels.push_back(std::move(coarse));
  }
  std::vector<Colour> above;  // the coarser level's filled values
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    std::vector<Colour> filled(level->sum.size());
    for (int y = 0; y < level->rows; ++y) {
      for (int x = 0; x < level->columns; ++x) {
        const std::size_t i = cellIndex(x, y, level->columns);
        if (level->weight[i] > 0) {
          for (std::size_t c = 0; c < 3; ++c) filled[i][c] = level->sum[i][c] / level->weight[i];
        } else {
          filled[i] = above[cellIndex(x / 2, y / 2, (level->columns + 1) / 2)];
        }
      }
    }
    above = std::move(filled);
  }
  values = std::move(above);
  for (int pass = 0; pass < 200; ++pass) {
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) {
        const std::size_t i = cellIndex(x, y, columns);
        if (known[i]) continue;
        Colour sum{};
        int count = 0;
        for (const auto& [dx, dy] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= columns || ny >= rows) continue;
          const Colour& v = values[cellIndex(nx, ny, columns)];
          for (std::size_t c = 0; c < 3; ++c) sum[c] += v[c];
          ++count;
        }
        for (std::size_t c = 0; c < 3; ++c) values[i][c] = sum[c] / static_cast<float>(count);
      }
    }
  }
}

// The plate's noise, from the spread within the backdrop cells: of the key
// channel's excess, and off the backdrop's line.
struct Noise {
  float excess = 0;
  float offLine = 0;
};

Noise noiseOf(const CellStats& stats, const std::vector<bool>& backdrop, KeyChannel channel) {
  const auto [a, b] = othersOf(channel);
  std::vector<float> excess, offLine;
  for (std::size_t i = 0; i < backdrop.size(); ++i) {
    if (!backdrop[i]) continue;
    const Colour& m = stats.mean[i];
    const Colour& v = stats.variance[i];
    excess.push_back(v[slotOf(channel)] + v[m[a] >= m[b] ? a : b]);
    // Of the three directions of noise one runs along the line.
    offLine.push_back((v[0] + v[1] + v[2]) * (2.0f / 3.0f));
  }
  return {std::sqrt(median(excess)), std::sqrt(median(offLine))};
}

std::uint8_t levelsOf(float value, float low, float high) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(value, low, high)));
}

}  // namespace

BackdropSurvey::BackdropSurvey(std::uint32_t width, std::uint32_t height) : width_(width), height_(height) {
  std::tie(columns_, rows_) = gridFor(std::max<std::uint32_t>(width, 1), std::max<std::uint32_t>(height, 1));
  // About four rows of each cell are enough for its mean and spread.
  rowStep_ = std::max<std::uint32_t>(1, height / static_cast<std::uint32_t>(rows_) / 4);
  columnOf_.resize(width);
  for (std::uint32_t x = 0; x < width; ++x) {
    columnOf_[x] = static_cast<int>(std::uint64_t{x} * static_cast<std::uint64_t>(columns_) / width);
  }
  cells_.resize(cellIndex(0, rows_, columns_));
}

bool BackdropSurvey::wantsRow(std::uint32_t topRow) const { return topRow % rowStep_ == 0; }

void BackdropSurvey::addRow(const Pixel32* row, std::uint32_t topRow) {
  if (topRow >= height_) return;
  const auto cellRow = static_cast<std::size_t>(std::uint64_t{topRow} * static_cast<std::uint64_t>(rows_) / height_);
  Cell* cells = cells_.data() + cellRow * static_cast<std::size_t>(columns_);
  for (std::uint32_t x = 0; x < width_; ++x) {
    Cell& cell = cells[columnOf_[x]];
    const std::uint32_t channels[3] = {redOf(row[x]), greenOf(row[x]), blueOf(row[x])};
    for (std::size_t c = 0; c < 3; ++c) {
      cell.sum[c] += channels[c];
      cell.sumOfSquares[c] += channels[c] * channels[c];
    }
    ++cell.count;
  }
}

// How far a colour lies from grey: the length of its chroma (Cb, Cr) as
// JPEG reckons it.
float chromaOf(const Colour& c) {
  const float cb = -0.168736f * c[0] - 0.331264f * c[1] + 0.5f * c[2];
  const float cr = 0.5f * c[0] - 0.418688f * c[1] - 0.081312f * c[2];
  return std::hypot(cb, cr);
}

struct ToleranceLevels {
  std::uint8_t backdrop, foreground, hue;
};

// The tolerances that clear a backdrop whose pixels stray by `noise`: three
// standard deviations clear nearly all of it; the extra levels cover what
// the smooth model misses between cells.
ToleranceLevels tolerancesFor(const Noise& noise) {
  return {levelsOf(3 * noise.excess + 2, 2, 96), levelsOf(3 * noise.excess + 1, 1, 48),
          levelsOf(3 * noise.offLine + 3, 3, 96)};
}

void setTolerances(PlateSettings& settings, const Noise& noise) {
  const ToleranceLevels levels = tolerancesFor(noise);
  settings.backdropTolerance = levels.backdrop;
  settings.foregroundTolerance = levels.foreground;
  settings.hueTolerance = levels.hue;
}

// A compressed picture's flat backdrop shows less noise than its edges
// carry error: compression smooths the one, and at the other the colour,
// stored coarsely and at half resolution, rings and bleeds by an amount
// that grows with the quantisation step and with the colour's jump across
// the edge, which against most foregrounds is about the backdrop's own
// chroma. That error adds to the noise as an independent spread; its size
// (step x chroma / 64) was measured on 4:2:0 test plates of quality 50 to
// 95. It may not lift a tolerance past a quarter more than the backdrop's
// excess, beyond which the key would eat foreground near the backdrop's colour.
void allowForCompression(PlateSettings& settings, const CellStats& stats, const std::vector<bool>& backdrop,
                         const Noise& noise, float colourQuantisation) {
  std::vector<float> chroma, excess;
  for (std::size_t i = 0; i < backdrop.size(); ++i) {
    if (!backdrop[i]) continue;
    chroma.push_back(chromaOf(stats.mean[i]));
    excess.push_back(excessOf(stats.mean[i], settings.channel));
  }
  const float compression = colourQuantisation * median(chroma) / 64;
  const ToleranceLevels wider =
      tolerancesFor({std::hypot(noise.excess, compression), std::hypot(noise.offLine, compression)});
  const float cap = 1.25f * median(excess);
  const auto lift = [cap](std::uint8_t& tolerance, std::uint8_t widened) {
    tolerance = std::max(tolerance, levelsOf(std::min<float>(widened, cap), 0, 255));
  };
  lift(settings.backdropTolerance, wider.backdrop);
  lift(settings.foregroundTolerance, wider.foreground);
  lift(settings.hueTolerance, wider.hue);
}

PlateSettings fitPlate(const BackdropSurvey& survey, const PlateRequest& request) {
  const int columns = survey.columns(), rows = survey.rows();
  const CellStats stats = statsOf(survey);
  PlateSettings settings;
  settings.channel = request.channel.value_or(backdropChannel(stats));
  const std::vector<bool> usable = keyedCells(stats, settings.channel);
  settings.backdrop.columns = columns;
  settings.backdrop.rows = rows;
  if (std::none_of(usable.begin(), usable.end(), [](bool b) { return b; })) {
    // Nothing looks like a backdrop: key against the pure key colour, which
    // leaves whatever the picture shows solid.
    Colour pure{};
    pure[slotOf(settings.channel)] = 255;
    settings.backdrop.colours.assign(stats.mean.size(), pixelOf(pure));
    return settings;
  }
  const std::vector<bool> backdrop = backdropCells(stats, usable);
  std::vector<Colour> values = stats.mean;
  fillBackdrop(values, backdrop, columns, rows);
  settings.backdrop.colours.resize(values.size());
  std::transform(values.begin(), values.end(), settings.backdrop.colours.begin(), pixelOf);
  if (request.autoAdjust) {
    const Noise noise = noiseOf(stats, backdrop, settings.channel);
    setTolerances(settings, noise);
    if (request.colourQuantisation > 0) {
      allowForCompression(settings, stats, backdrop, noise, request.colourQuantisation);
    }
  }
  return settings;
}

PlateKeyer::PlateKeyer(const PlateSettings& settings, std::uint32_t width, std::uint32_t height)
    : settings_(settings), width_(width), height_(height), leftCell_(width), rightWeight_(width),
      gridRow_(static_cast<std::size_t>(settings.backdrop.columns) * 3), backdrop_(std::size_t{width} * 3),
      excess_(width), nearby_(width) {
  const int columns = settings.backdrop.columns;
  for (std::uint32_t x = 0; x < width; ++x) {
    const float u = (static_cast<float>(x) + 0.5f) * static_cast<float>(columns) / static_cast<float>(width) - 0.5f;
    const int left = std::clamp(static_cast<int>(std::floor(u)), 0, std::max(0, columns - 2));
    leftCell_[x] = left;
    rightWeight_[x] = columns < 2 ? 0.0f : std::clamp(u - static_cast<float>(left), 0.0f, 1.0f);
  }
}

// The model's two rows around `topRow`, blended, then each pixel's colour
// between the two cells around it: backdrop_ holds the row's reds, then its
// greens, then its blues.
void PlateKeyer::backdropRow(std::uint32_t topRow) {
  const BackdropModel& model = settings_.backdrop;
  const float v = (static_cast<float>(topRow) + 0.5f) * static_cast<float>(model.rows) / static_cast<float>(height_) - 0.5f;
  const int upper = std::clamp(static_cast<int>(std::floor(v)), 0, std::max(0, model.rows - 2));
  const int lower = std::min(upper + 1, model.rows - 1);
  const float down = model.rows < 2 ? 0.0f : std::clamp(v - static_cast<float>(upper), 0.0f, 1.0f);
  for (int column = 0; column < model.columns; ++column) {
    const Colour a = colourOf(model.at(column, upper));
    const Colour b = colourOf(model.at(column, lower));
    for (std::size_t c = 0; c < 3; ++c) gridRow_[static_cast<std::size_t>(column) * 3 + c] = a[c] + (b[c] - a[c]) * down;
  }
  // Pixels between the same two cell centres come in runs: one straight
  // line per run and channel.
  const std::size_t lastColumn = static_cast<std::size_t>(model.columns - 1) * 3;
  for (std::size_t x = 0; x < width_;) {
    const std::size_t left = static_cast<std::size_t>(leftCell_[x]) * 3;
    const std::size_t right = std::min(left + 3, lastColumn);
    std::size_t end = x;
    while (end < width_ && leftCell_[end] == leftCell_[x]) ++end;
    for (std::size_t c = 0; c < 3; ++c) {
      const float start = gridRow_[left + c], rise = gridRow_[right + c] - start;
      float* line = backdrop_.data() + c * width_;
      for (std::size_t i = x; i < end; ++i) line[i] = start + rise * rightWeight_[i];
    }
    x = end;
  }
}

namespace {

struct Tolerances {
  float backdrop, foreground, hue, perHueRange;  // the last is 1 / hue-range
};

// Plain comparisons, which the processor's min and max instructions match.
[[gnu::always_inline]] inline float larger(float a, float b) { return a > b ? a : b; }
[[gnu::always_inline]] inline float smaller(float a, float b) { return a < b ? a : b; }
[[gnu::always_inline]] inline float clamp01(float value) { return smaller(larger(value, 0.0f), 1.0f); }

[[gnu::always_inline]] inline std::uint32_t levelBits(float value) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(smaller(larger(value, 0.0f), 255.0f) + 0.5f));
}

// One row with the key channel K known when compiled: written without
// branches, so that the compiler keys several pixels at a time.
template <std::size_t K>
[[gnu::always_inline]] inline float excessOfPixel(Pixel32 pixel) {
  constexpr std::size_t O1 = K == 0 ? 1 : 0;
  constexpr std::size_t O2 = K == 2 ? 1 : 2;
  const float p[3] = {static_cast<float>((pixel >> 16) & 0xFF), static_cast<float>((pixel >> 8) & 0xFF),
                      static_cast<float>(pixel & 0xFF)};
  return p[K] - larger(p[O1], p[O2]);
}

// The key-channel excess of each pixel averaged with its neighbours in the
// row, Reach on either side (fewer at the ends): the noise shrinks, so a
// patch of backdrop or of foreground shows as such where single pixels
// scatter.
constexpr std::size_t Reach = 2;  // the interior sum below is written out for it

template <std::size_t K>
[[gnu::always_inline]] inline void excessNearby(const Pixel32* in, float* own, float* nearby, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) own[x] = excessOfPixel<K>(in[x]);
  const auto average = [&](std::size_t x) {
    const std::size_t first = x < Reach ? 0 : x - Reach;
    const std::size_t end = std::min(width, x + Reach + 1);
    float sum = 0;
    for (std::size_t i = first; i < end; ++i) sum += own[i];
    return sum / static_cast<float>(end - first);
  };
  if (width <= 2 * Reach) {
    for (std::size_t x = 0; x < width; ++x) nearby[x] = average(x);
    return;
  }
  for (std::size_t x = 0; x < Reach; ++x) nearby[x] = average(x);
  for (std::size_t x = Reach; x < width - Reach; ++x) {
    nearby[x] = (own[x - 2] + own[x - 1] + own[x] + own[x + 1] + own[x + 2]) * (1.0f / (2 * Reach + 1));
  }
  for (std::size_t x = width - Reach; x < width; ++x) nearby[x] = average(x);
}

// `excess` holds each pixel's own key-channel excess, `nearby` its
// neighbourhood's (excessNearby).
template <std::size_t K>
[[gnu::always_inline]] inline void keyPlateRow(const Pixel32* in, Pixel32* out, std::uint32_t width,
                                               const float* backdrop, const float* excess, const float* nearby,
                                               Tolerances t) {
  constexpr std::size_t O1 = K == 0 ? 1 : 0;
  constexpr std::size_t O2 = K == 2 ? 1 : 2;
  const float* backdropRed = backdrop;
  const float* backdropGreen = backdrop + width;
  const float* backdropBlue = backdrop + 2 * std::size_t{width};
  for (std::size_t x = 0; x < width; ++x) {
    const Pixel32 pixel = in[x];
    const float p[3] = {static_cast<float>((pixel >> 16) & 0xFF), static_cast<float>((pixel >> 8) & 0xFF),
                        static_cast<float>(pixel & 0xFF)};
    const float b[3] = {backdropRed[x], backdropGreen[x], backdropBlue[x]};
    const float pixelExcess = excess[x];
    const float backdropExcess = b[K] - larger(b[O1], b[O2]);
    // Colour difference: from the backdrop's excess (less the noise) down to none.
    const float span = larger(backdropExcess - t.backdrop - t.foreground, 8.0f);
    const float byDifference = clamp01((backdropExcess - t.backdrop - pixelExcess) / span);
    // Hue: the distance off the line from black through the backdrop colour.
    const float bb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
    const float pb = p[0] * b[0] + p[1] * b[1] + p[2] * b[2];
    const float pp = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
    const float offLine = std::sqrt(larger(0.0f, pp - pb * pb / larger(bb, 1.0f)));
    // The hue speaks only as far as the pixel has the backdrop's excess: a
    // pixel with less is a mix the colour difference already measures, and
    // the hue of a bright foreground would overstate its edge.
    const float perBackdropExcess = 1.0f / larger(backdropExcess, 1.0f);
    const float greenness = clamp01(pixelExcess * perBackdropExcess);
    const float byHue = greenness * clamp01((offLine - t.hue) * t.perHueRange);
    const float single = larger(byDifference, byHue);
    // Noise: where the pixel and its neighbours together are surely
    // foreground, or surely backdrop, the pixel is, if it leans that way.
    // (A neighbourhood with clearly less key channel than the others is
    // foreground whatever the pixel itself said.)
    const float solidNearby =
        (nearby[x] <= t.foreground * 0.5f && single > 0) || nearby[x] <= -t.foreground * 0.5f ? 1.0f : 0.0f;
    const float clearNearby = nearby[x] >= backdropExcess - t.backdrop * 0.5f && byHue <= 0 && single < 1 ? 1.0f : 0.0f;
    const float alpha = solidNearby + (1.0f - solidNearby) * (1.0f - clearNearby) * single;
    // Un-mix: the colour that, laid over the backdrop at this alpha, gives
    // the pixel (a clear pixel keeps its own colour, spill aside).
    const float clear = alpha > 0 ? 0.0f : 1.0f;
    const float inverse = 1.0f / larger(alpha, 1.0f / 1024);
    float f[3];
    for (std::size_t c = 0; c < 3; ++c) f[c] = (p[c] - (1.0f - alpha - clear) * b[c]) * (inverse - clear * (inverse - 1.0f));
    // Spill: excess the foreground should not have, taken out along the
    // backdrop's colour less its grey, so the brightness stays. Not where
    // the hue alone made the pixel foreground: that may be green itself.
    const float leftExcess = f[K] - larger(f[O1], f[O2]);
    const float spillable = (byDifference >= byHue ? 1.0f : 0.0f) * (backdropExcess > 1 ? 1.0f : 0.0f);
    const float spill = spillable * smaller(larger(leftExcess, 0.0f) * perBackdropExcess, 1.0f);
    const float grey = (b[0] + b[1] + b[2]) * (1.0f / 3);
    for (std::size_t c = 0; c < 3; ++c) f[c] -= spill * (b[c] - grey);
    out[x] = levelBits(f[0]) << 16 | levelBits(f[1]) << 8 | levelBits(f[2]) | levelBits(alpha * 255) << 24;
  }
}

// The row's two passes for key channel K, also eight pixels at a time where
// the processor can (the same bytes).

template <std::size_t K>
[[gnu::always_inline]] inline void keyWholeRow(const Pixel32* in, Pixel32* out, std::uint32_t width,
                                               const float* backdrop, float* excess, float* nearby, Tolerances t) {
  excessNearby<K>(in, excess, nearby, width);
  keyPlateRow<K>(in, out, width, backdrop, excess, nearby, t);
}

KVL_WIDE_VERSIONS void keyRedRow(const Pixel32* in, Pixel32* out, std::uint32_t width, const float* backdrop,
                                 float* excess, float* nearby, Tolerances t) {
  keyWholeRow<0>(in, out, width, backdrop, excess, nearby, t);
}
KVL_WIDE_VERSIONS void keyGreenRow(const Pixel32* in, Pixel32* out, std::uint32_t width, const float* backdrop,
                                   float* excess, float* nearby, Tolerances t) {
  keyWholeRow<1>(in, out, width, backdrop, excess, nearby, t);
}
KVL_WIDE_VERSIONS void keyBlueRow(const Pixel32* in, Pixel32* out, std::uint32_t width, const float* backdrop,
                                  float* excess, float* nearby, Tolerances t) {
  keyWholeRow<2>(in, out, width, backdrop, excess, nearby, t);
}

}  // namespace

void PlateKeyer::keyRow(const Pixel32* in, Pixel32* out, std::uint32_t topRow) {
  backdropRow(topRow);
  const Tolerances t{static_cast<float>(settings_.backdropTolerance), static_cast<float>(settings_.foregroundTolerance),
                     static_cast<float>(settings_.hueTolerance), 1.0f / std::max<float>(1, settings_.hueRange)};
  const auto key = settings_.channel == RedChannel    ? keyRedRow
                   : settings_.channel == BlueChannel ? keyBlueRow
                                                      : keyGreenRow;
  key(in, out, width_, backdrop_.data(), excess_.data(), nearby_.data(), t);
}

}  // namespace Kvl

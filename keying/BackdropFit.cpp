#include "PlateKeyer.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include "BackdropHue.h"
#include "PlateCells.h"

// Fitting the plate keyer's backdrop model to a picture: the survey of its
// cells, the choice of the cells that are surely backdrop, the fill behind
// the foreground, and the tolerances from the plate's noise.

namespace Kvl {
namespace {

using namespace PlateFit;

std::uint8_t toLevel(float value) { return static_cast<std::uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

Pixel32 pixelOf(const Colour& colour) { return makePixel(toLevel(colour[0]), toLevel(colour[1]), toLevel(colour[2])); }

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

CellStats statsOf(const BackdropSurvey& survey) {
  const std::size_t count = cellIndex(0, survey.rows(), survey.columns());
  CellStats stats{survey.columns(), survey.rows(), std::vector<Colour>(count), std::vector<Colour>(count),
                  std::vector<bool>(count)};
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

// The cells that are surely backdrop: usable, of the backdrop's hue within
// a tolerance taken from how far the backdrop's own cells stray, and no
// busier inside than backdrop is.
std::vector<bool> backdropCells(const CellStats& stats, const std::vector<bool>& usable, const Colour& hue) {
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

// Whether any usable cell comes near a hue: one named by the user may be
// nowhere in the picture.
bool showsHue(const CellStats& stats, const std::vector<bool>& usable, const Colour& hue) {
  for (std::size_t i = 0; i < usable.size(); ++i) {
    if (usable[i] && distance(chromaticityOf(stats.mean[i]), hue) < 0.06f) return true;
  }
  return false;
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
// carry error: compression smooths the one, and at the other the colour
// rings and bleeds (compressionErrorOf, at the backdrop's median chroma),
// which adds to the noise as an independent spread. It may not lift a
// tolerance past a quarter more than the backdrop's excess, beyond which
// the key would eat foreground near the backdrop's colour.
void allowForCompression(PlateSettings& settings, const CellStats& stats, const std::vector<bool>& backdrop,
                         const Noise& noise, float colourQuantisation) {
  std::vector<float> chroma, excess;
  for (std::size_t i = 0; i < backdrop.size(); ++i) {
    if (!backdrop[i]) continue;
    chroma.push_back(chromaOf(stats.mean[i]));
    excess.push_back(excessOf(stats.mean[i], settings.channel));
  }
  const float compression = compressionErrorOf(median(chroma), colourQuantisation);
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

std::optional<PlateSettings> fitPlate(const BackdropSurvey& survey, const PlateRequest& request, std::string* refusal) {
  const int columns = survey.columns(), rows = survey.rows();
  const CellStats stats = statsOf(survey);
  std::string reason;
  const std::optional<BackdropHue> hue = findBackdropHue(stats, request.channel, request.screen, reason);
  if (hue && request.screen && !showsHue(stats, keyedCells(stats, hue->channel), hue->chromaticity)) {
    reason = "no part of the picture has the hue of the --screen colour";
  }
  if (!reason.empty()) {
    if (refusal) *refusal = reason;
    return std::nullopt;
  }
  PlateSettings settings;
  settings.channel = hue->channel;
  settings.screen = request.screen;
  settings.backdrop.columns = columns;
  settings.backdrop.rows = rows;
  const std::vector<bool> backdrop = backdropCells(stats, keyedCells(stats, settings.channel), hue->chromaticity);
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

}  // namespace Kvl

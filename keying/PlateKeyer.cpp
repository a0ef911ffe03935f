#include "PlateKeyer.h"

#include <algorithm>
#include <cmath>

#include "PlateCells.h"
#include "WideVersions.h"

namespace Kvl {

using PlateFit::Colour;
using PlateFit::colourOf;


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
  const CleanPlate* clean = settings_.cleanPlate.get();
  if (clean && clean->width == width_ && clean->height == height_ && topRow < height_) {
    const Pixel32* row = clean->pixels.data() + std::size_t{topRow} * width_;
    for (std::size_t x = 0; x < width_; ++x) {
      const Colour c = colourOf(row[x]);
      for (std::size_t k = 0; k < 3; ++k) backdrop_[k * width_ + x] = c[k];
    }
    return;
  }
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

// Edges, un-mixed along the row against the foreground beside them.
//
// The colour difference takes a pixel's alpha from how much of the
// backdrop's excess it lacks, as if the foreground had no excess of its own;
// the hue, from how far it lies off the backdrop's line. Both misjudge a mix
// whose foreground is far from that assumption: a saturated red edge has
// much less key channel than none (keyed too hard), a pale or bluish one
// lies far off the line (keyed too hard by hue). Where the foreground is
// in view nearby, though, its colour is known: a mix P of it, F, and the
// local backdrop B lies on the segment between them, and
//
//     a = (P - B).(F - B) / |F - B|^2
//
// is its alpha (the colour-line model of matting, as in Gastal and
// Oliveira's shared sampling, 2010, here with the candidates taken along
// the row, so that rows stay independent: on either side within EdgeReach,
// the pixel solid amid solid ones farthest in colour from B). Of the two,
// the one whose line passes closer to P is taken, and only when that
// distance is within the hue tolerance, the noise off the line: otherwise
// the pixel is a mix of something else (glass over the backdrop, a strand
// in front of another) and keeps its alpha. Only the pixels the key left
// partly transparent are looked at again; the pass is scalar.
constexpr std::uint32_t EdgeReach = 24;
constexpr std::uint32_t NearlyClear = 32;  // alpha levels: the backdrop that shows over a new background

struct Unmixed {
  float alpha = -1;  // below 0: no candidate explains the pixel
  float candidateExcess = 0;
};

// Marks the keyed pixels solid amid solid ones, two on either side:
// foreground for sure, not a lone mix keyed hard (a speck of glass).
void markSurelySolid(const Pixel32* keyed, std::uint32_t width, std::vector<std::uint8_t>& sure) {
  sure.assign(width, 0);
  std::uint32_t run = 0;  // solid pixels so far in a row, up to this one
  for (std::uint32_t x = 0; x < width; ++x) {
    run = (keyed[x] >> 24) == 255 ? run + 1 : 0;
    if (run >= 5) sure[x - 2] = 1;
  }
}

// The foreground candidate on one side: of the pixels within reach solid
// amid solid ones, the one farthest in colour from the local backdrop.
std::int32_t candidateOn(int step, std::uint32_t x, std::uint32_t width, const Pixel32* original,
                         const std::uint8_t* sure, const float b[3]) {
  std::int32_t best = -1;
  float farthest = 0;
  for (std::uint32_t k = 1; k <= EdgeReach; ++k) {
    const std::int64_t at = static_cast<std::int64_t>(x) + step * static_cast<std::int64_t>(k);
    if (at < 0 || at >= static_cast<std::int64_t>(width)) break;
    if (!sure[at]) continue;
    const Colour f = colourOf(original[at]);
    const float d0 = f[0] - b[0], d1 = f[1] - b[1], d2 = f[2] - b[2];
    const float dd = d0 * d0 + d1 * d1 + d2 * d2;
    if (dd > farthest) farthest = dd, best = static_cast<std::int32_t>(at);
  }
  return best;
}

Unmixed unmixAgainst(const float p[3], const float b[3], const Pixel32* original, const std::int32_t candidates[2],
                     KeyChannel channel, Tolerances t) {
  Unmixed best;
  float bestDistortion = t.hue;
  for (int i = 0; i < 2; ++i) {
    if (candidates[i] < 0) continue;
    const Colour f = colourOf(original[candidates[i]]);
    const float d[3] = {f[0] - b[0], f[1] - b[1], f[2] - b[2]};
    const float dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (dd < 4 * t.backdrop * t.backdrop || dd < 64) continue;  // too close to the backdrop to measure by
    const float e[3] = {p[0] - b[0], p[1] - b[1], p[2] - b[2]};
    const float a = clamp01((e[0] * d[0] + e[1] * d[1] + e[2] * d[2]) / dd);
    const float r[3] = {e[0] - a * d[0], e[1] - a * d[1], e[2] - a * d[2]};
    const float distortion = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (distortion < bestDistortion) {
      bestDistortion = distortion;
      best = {a, PlateFit::excessOf(f, channel)};
    }
  }
  return best;
}

// Whether the key's hue, not its colour difference, made the pixel
// foreground (as in keyPlateRow): such a pixel is not of the kind the
// colour line here measures (glass, a green object) and keeps its alpha.
bool keyedByHue(const Colour& p, const float b[3], KeyChannel channel, Tolerances t) {
  const float backdropExcess = PlateFit::excessOf({b[0], b[1], b[2]}, channel);
  const float pixelExcess = PlateFit::excessOf(p, channel);
  const float span = larger(backdropExcess - t.backdrop - t.foreground, 8.0f);
  const float byDifference = clamp01((backdropExcess - t.backdrop - pixelExcess) / span);
  const float bb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
  const float pb = p[0] * b[0] + p[1] * b[1] + p[2] * b[2];
  const float pp = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  const float offLine = std::sqrt(larger(0.0f, pp - pb * pb / larger(bb, 1.0f)));
  const float greenness = clamp01(pixelExcess / larger(backdropExcess, 1.0f));
  return greenness * clamp01((offLine - t.hue) * t.perHueRange) > byDifference;
}

void writeUnmixed(Pixel32& out, const Colour& p, const float b[3], const Unmixed& u, KeyChannel channel) {
  const float inverse = 1.0f / u.alpha;
  float f[3];
  for (std::size_t c = 0; c < 3; ++c) f[c] = (p[c] - (1.0f - u.alpha) * b[c]) * inverse;
  // Spill as in the key, unless the foreground beside is of the backdrop's kind.
  const float backdropExcess = PlateFit::excessOf({b[0], b[1], b[2]}, channel);
  const float leftExcess = PlateFit::excessOf({f[0], f[1], f[2]}, channel);
  const float spillable = backdropExcess > 1 && u.candidateExcess < backdropExcess * 0.5f ? 1.0f : 0.0f;
  const float spill = spillable * smaller(larger(leftExcess, 0.0f) / larger(backdropExcess, 1.0f), 1.0f);
  const float grey = (b[0] + b[1] + b[2]) * (1.0f / 3);
  for (std::size_t c = 0; c < 3; ++c) f[c] -= spill * (b[c] - grey);
  out = levelBits(f[0]) << 16 | levelBits(f[1]) << 8 | levelBits(f[2]) | levelBits(u.alpha * 255) << 24;
}

void refineEdges(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop, KeyChannel channel,
                 Tolerances t, std::vector<std::uint8_t>& sure) {
  // Decided on the key's own alphas, before any is changed: only partly
  // transparent pixels change, and the candidates are solid ones.
  markSurelySolid(out, width, sure);
  for (std::uint32_t x = 0; x < width; ++x) {
    const std::uint32_t level = out[x] >> 24;
    // Solid pixels stay solid, and nearly clear ones nearly clear: where the
    // model's backdrop is a little off, a backdrop pixel beside a subject
    // projects onto its line as a faint mix.
    if (level <= NearlyClear || level == 255) continue;
    const Colour p = colourOf(original[x]);
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
    const std::int32_t candidates[2] = {candidateOn(-1, x, width, original, sure.data(), b),
                                        candidateOn(1, x, width, original, sure.data(), b)};
    if ((candidates[0] < 0 && candidates[1] < 0) || keyedByHue(p, b, channel, t)) continue;
    const Unmixed u = unmixAgainst(p.data(), b, original, candidates, channel, t);
    if (u.alpha <= 0) continue;
    // The line may lower the key's alpha only beside a foreground with far
    // less key channel than none (a saturated red over green, whose mixes
    // the colour difference keys too hard); beside any other it only adds
    // what the difference missed (a faint strand of hair): the shading and
    // weave of a subject, and the backdrop's light spilled on its rim, look
    // like mixes too.
    const float backdropExcess = PlateFit::excessOf({b[0], b[1], b[2]}, channel);
    const bool saturatedBeside = u.candidateExcess < -backdropExcess;
    if (!saturatedBeside && u.alpha * 255 < static_cast<float>(level)) continue;
    writeUnmixed(out[x], p, b, u, channel);
  }
}

}  // namespace

void PlateKeyer::keyRow(const Pixel32* in, Pixel32* out, std::uint32_t topRow) {
  backdropRow(topRow);
  original_.assign(in, in + width_);  // `out` may be `in`
  const Tolerances t{static_cast<float>(settings_.backdropTolerance), static_cast<float>(settings_.foregroundTolerance),
                     static_cast<float>(settings_.hueTolerance), 1.0f / std::max<float>(1, settings_.hueRange)};
  const auto key = settings_.channel == RedChannel    ? keyRedRow
                   : settings_.channel == BlueChannel ? keyBlueRow
                                                      : keyGreenRow;
  key(in, out, width_, backdrop_.data(), excess_.data(), nearby_.data(), t);
  refineEdges(original_.data(), out, width_, backdrop_.data(), settings_.channel, t, surelySolid_);
}

}  // namespace Kvl

#include "PlateKeyer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "PlateCells.h"
#include "PlateEdges.h"
#include "WideVersions.h"

namespace Kvl {

using PlateFit::Colour;
using PlateFit::colourOf;
using PlateKey::clamp01;
using PlateKey::leastMixAlpha;
using PlateKey::larger;
using PlateKey::levelBits;
using PlateKey::smaller;
using PlateKey::Tolerances;


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
  if (usesCleanPlate() && topRow < height_) {
    const Pixel32* row = clean->pixels.data() + std::size_t{topRow} * width_;
    for (std::size_t x = 0; x < width_; ++x) {
      const Colour c = colourOf(row[x]);
      for (std::size_t k = 0; k < 3; ++k) backdrop_[k * width_ + x] = c[k];
    }
    mayHaveLowExcess_ = true;  // not worth a pass over the row to tell
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
  // Each pixel's colour lies between two of these cells', and the excess
  // (the key channel less the larger other) of a colour between two is no
  // less than the smaller of theirs: the cells tell whether any pixel may
  // have little excess, a level of margin kept for the rounding between.
  const auto [other1, other2] = PlateFit::othersOf(settings_.channel);
  const std::size_t key = PlateFit::slotOf(settings_.channel);
  float leastExcess = std::numeric_limits<float>::infinity();
  for (std::size_t cell = 0; cell < gridRow_.size(); cell += 3) {
    leastExcess = std::min(leastExcess, gridRow_[cell + key] - std::max(gridRow_[cell + other1], gridRow_[cell + other2]));
  }
  mayHaveLowExcess_ = !(leastExcess >= static_cast<float>(settings_.backdropTolerance + settings_.foregroundTolerance) + 1.0f);
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
    const float byMix = leastMixAlpha(p, b, pb, bb, t.backdrop);
    const float single = larger(larger(byDifference, byHue), byMix);
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
  // The edge pass reads the row as it came: kept aside only where the key
  // writes over it.
  const bool overlaps = out < in + width_ && in < out + width_;
  if (overlaps) original_.assign(in, in + width_);
  const Pixel32* original = overlaps ? original_.data() : in;
  const Tolerances t{static_cast<float>(settings_.backdropTolerance), static_cast<float>(settings_.foregroundTolerance),
                     static_cast<float>(settings_.hueTolerance), 1.0f / std::max<float>(1, settings_.hueRange)};
  const auto key = settings_.channel == RedChannel    ? keyRedRow
                   : settings_.channel == BlueChannel ? keyBlueRow
                                                      : keyGreenRow;
  key(in, out, width_, backdrop_.data(), excess_.data(), nearby_.data(), t);
  PlateKey::refineEdges(original, out, width_, backdrop_.data(), settings_.channel, t, mayHaveLowExcess_, edgeMarks_);
  // Against a clean plate, the picture's second pass does this and more.
  if (!usesCleanPlate()) {
    PlateKey::keyAgainstModelledBackdrop(original, out, width_, backdrop_.data(), settings_.channel, t.backdrop,
                                         edgeMarks_.unmixed.data(), modelMarks_);
  }
}

void PlateKeyer::keyRowAgainstCleanPlate(const PlateKey::CleanPlatePicture& picture, std::uint32_t topRow) {
  if (!usesCleanPlate()) return;
  backdropRow(topRow);
  PlateKey::keyAgainstCleanPlate(picture, topRow, backdrop_.data(), *settings_.cleanPlate, settings_.channel,
                                 static_cast<float>(settings_.backdropTolerance), cleanMarks_);
}

}  // namespace Kvl

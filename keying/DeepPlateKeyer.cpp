#include "DeepPlateKeyer.h"

#include <algorithm>
#include <cmath>

#include "PlateArithmetic.h"
#include "PlateEdges.h"
#include "WideVersions.h"

namespace Kvl {
namespace {

// A sample of 1.0 is 255 levels: the tolerances and the model are in levels.
constexpr float LevelsPerUnit = 255;

struct Tolerances {
  float backdrop, foreground, hue, perHueRange;  // the last is 1 / hue-range
};

[[gnu::always_inline]] inline float larger(float a, float b) { return a > b ? a : b; }
[[gnu::always_inline]] inline float smaller(float a, float b) { return a < b ? a : b; }
[[gnu::always_inline]] inline float clamp01(float value) { return smaller(larger(value, 0.0f), 1.0f); }

[[gnu::always_inline]] inline void levelsOf(const PixelF& pixel, float* p) {
  p[0] = pixel.red * LevelsPerUnit;
  p[1] = pixel.green * LevelsPerUnit;
  p[2] = pixel.blue * LevelsPerUnit;
}

template <std::size_t K>
[[gnu::always_inline]] inline float excessOfPixel(const PixelF& pixel) {
  constexpr std::size_t O1 = K == 0 ? 1 : 0;
  constexpr std::size_t O2 = K == 2 ? 1 : 2;
  float p[3];
  levelsOf(pixel, p);
  return p[K] - larger(p[O1], p[O2]);
}

// Each pixel's key-channel excess averaged with its neighbours', two on
// either side (fewer at the ends), as the 8-bit keyer does.
template <std::size_t K>
[[gnu::always_inline]] inline void excessNearby(const PixelF* in, float* own, float* nearby, std::size_t width) {
  constexpr std::size_t Reach = 2;
  for (std::size_t x = 0; x < width; ++x) own[x] = excessOfPixel<K>(in[x]);
  // The pixels with all four neighbours in one loop without branches, which
  // the compiler vectorises; the few at the ends apart.
  const std::size_t whole = width > 2 * Reach ? width - Reach : Reach;
  for (std::size_t x = Reach; x < whole; ++x) {
    nearby[x] = (own[x - 2] + own[x - 1] + own[x] + own[x + 1] + own[x + 2]) * (1.0f / (2 * Reach + 1));
  }
  const auto atEnd = [&](std::size_t x) {
    const std::size_t first = x < Reach ? 0 : x - Reach;
    const std::size_t end = std::min(width, x + Reach + 1);
    float sum = 0;
    for (std::size_t i = first; i < end; ++i) sum += own[i];
    nearby[x] = sum / static_cast<float>(end - first);
  };
  for (std::size_t x = 0; x < std::min(width, Reach); ++x) atEnd(x);
  for (std::size_t x = std::max(whole, Reach); x < width; ++x) atEnd(x);
}

// The per-pixel key of PlateKeyer, step for step, on levels held as floats.
// Written to planes of its own, which nothing else reads or writes
// meanwhile (hence restrict, without which the loop is not vectorised):
// stored as pixels here, each took four scalar stores.
template <std::size_t K>
[[gnu::always_inline]] inline void keyDeepRow(const PixelF* __restrict in, float* __restrict keyed, std::size_t width,
                                              const float* __restrict backdrop, const float* __restrict excess,
                                              const float* __restrict nearby, Tolerances t) {
  constexpr std::size_t O1 = K == 0 ? 1 : 0;
  constexpr std::size_t O2 = K == 2 ? 1 : 2;
  for (std::size_t x = 0; x < width; ++x) {
    float p[3];
    levelsOf(in[x], p);
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * width + x]};
    const float pixelExcess = excess[x];
    const float backdropExcess = b[K] - larger(b[O1], b[O2]);
    const float span = larger(backdropExcess - t.backdrop - t.foreground, 8.0f);
    const float byDifference = clamp01((backdropExcess - t.backdrop - pixelExcess) / span);
    const float bb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
    const float pb = p[0] * b[0] + p[1] * b[1] + p[2] * b[2];
    const float pp = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
    const float offLine = std::sqrt(larger(0.0f, pp - pb * pb / larger(bb, 1.0f)));
    const float perBackdropExcess = 1.0f / larger(backdropExcess, 1.0f);
    const float greenness = clamp01(pixelExcess * perBackdropExcess);
    const float byHue = greenness * clamp01((offLine - t.hue) * t.perHueRange);
    const float byMix = PlateKey::leastMixAlpha(p, b, pb, bb, t.backdrop);
    const float single = larger(larger(byDifference, byHue), byMix);
    const float solidNearby =
        (nearby[x] <= t.foreground * 0.5f && single > 0) || nearby[x] <= -t.foreground * 0.5f ? 1.0f : 0.0f;
    const float clearNearby = nearby[x] >= backdropExcess - t.backdrop * 0.5f && byHue <= 0 && single < 1 ? 1.0f : 0.0f;
    const float alpha = solidNearby + (1.0f - solidNearby) * (1.0f - clearNearby) * single;
    const float clear = alpha > 0 ? 0.0f : 1.0f;
    const float inverse = 1.0f / larger(alpha, 1.0f / 1024);
    float f[3];
    for (std::size_t c = 0; c < 3; ++c) f[c] = (p[c] - (1.0f - alpha - clear) * b[c]) * (inverse - clear * (inverse - 1.0f));
    const float leftExcess = f[K] - larger(f[O1], f[O2]);
    const float spillable = (byDifference >= byHue ? 1.0f : 0.0f) * (backdropExcess > 1 ? 1.0f : 0.0f);
    const float spill = spillable * smaller(larger(leftExcess, 0.0f) * perBackdropExcess, 1.0f);
    const float grey = (b[0] + b[1] + b[2]) * (1.0f / 3);
    for (std::size_t c = 0; c < 3; ++c) f[c] -= spill * (b[c] - grey);
    keyed[x] = f[0] / LevelsPerUnit;
    keyed[width + x] = f[1] / LevelsPerUnit;
    keyed[2 * width + x] = f[2] / LevelsPerUnit;
    keyed[3 * width + x] = alpha;
  }
}

// The keyed planes laid out as pixels.
[[gnu::always_inline]] inline void layOut(const float* keyed, PixelF* out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) out[x] = {keyed[x], keyed[width + x], keyed[2 * width + x], keyed[3 * width + x]};
}

template <std::size_t K>
[[gnu::always_inline]] inline void keyWholeRow(const PixelF* in, PixelF* out, std::size_t width, const float* backdrop,
                                               float* excess, float* nearby, float* keyed, Tolerances t) {
  excessNearby<K>(in, excess, nearby, width);
  keyDeepRow<K>(in, keyed, width, backdrop, excess, nearby, t);
  layOut(keyed, out, width);
}

KVL_WIDE_VERSIONS void keyRedRow(const PixelF* in, PixelF* out, std::size_t width, const float* backdrop,
                                 float* excess, float* nearby, float* keyed, Tolerances t) {
  keyWholeRow<0>(in, out, width, backdrop, excess, nearby, keyed, t);
}
KVL_WIDE_VERSIONS void keyGreenRow(const PixelF* in, PixelF* out, std::size_t width, const float* backdrop,
                                 float* excess, float* nearby, float* keyed, Tolerances t) {
  keyWholeRow<1>(in, out, width, backdrop, excess, nearby, keyed, t);
}
KVL_WIDE_VERSIONS void keyBlueRow(const PixelF* in, PixelF* out, std::size_t width, const float* backdrop,
                                 float* excess, float* nearby, float* keyed, Tolerances t) {
  keyWholeRow<2>(in, out, width, backdrop, excess, nearby, keyed, t);
}

}  // namespace

DeepPlateKeyer::DeepPlateKeyer(const PlateSettings& settings, std::uint32_t width, std::uint32_t height)
    : backdrop_(settings, width, height), width_(width), excess_(width), nearby_(width), keyed_(4 * std::size_t{width}) {}

void DeepPlateKeyer::keyPixels(const PixelF* in, PixelF* out, std::uint32_t topRow) {
  const PlateSettings& s = backdrop_.settings();
  const Tolerances t{static_cast<float>(s.backdropTolerance), static_cast<float>(s.foregroundTolerance),
                     static_cast<float>(s.hueTolerance), 1.0f / std::max<float>(1, s.hueRange)};
  const auto key = s.channel == RedChannel ? keyRedRow : s.channel == BlueChannel ? keyBlueRow : keyGreenRow;
  key(in, out, width_, backdrop_.backdropOf(topRow), excess_.data(), nearby_.data(), keyed_.data(), t);
}

void DeepPlateKeyer::keyRow(const PixelF* in, PixelF* out, std::uint32_t topRow) {
  original_.assign(in, in + width_);  // `out` may be `in`
  keyPixels(in, out, topRow);
  // The edges' second look, as the 8-bit keyer takes it.
  const PlateSettings& s = backdrop_.settings();
  const PlateKey::Tolerances t{static_cast<float>(s.backdropTolerance), static_cast<float>(s.foregroundTolerance),
                               static_cast<float>(s.hueTolerance), 1.0f / std::max<float>(1, s.hueRange)};
  const float* backdrop = backdrop_.backdropOf(topRow);
  PlateKey::refineEdges(original_.data(), out, width_, backdrop, s.channel, t, backdrop_.mayHaveLowExcess(), edgeMarks_);
  PlateKey::keyAgainstModelledBackdrop(original_.data(), out, width_, backdrop, s.channel, t.backdrop,
                                       edgeMarks_.unmixed.data(), modelMarks_);
}

}  // namespace Kvl

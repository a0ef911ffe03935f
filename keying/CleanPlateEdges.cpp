#include "CleanPlateEdges.h"

#include <algorithm>
#include <cmath>

#include "PlateCells.h"

namespace Kvl::PlateKey {

// With a clean plate, B, the backdrop behind a pixel P, is known, not
// modelled, and a mix P = a F + (1 - a) B lies on the segment from B to the
// foreground F: the difference P - B points from B straight at F over the
// whole colour vector, whatever F's hue, and its length is a times F's
// distance from B. Only F is unknown. The foreground beside the pixel tells
// it: of the pixels solid amid solid ones within Reach along the row (not
// the pixel itself), the one whose own difference points most nearly the
// same way (at least Aligned, a cosine) is taken as F, and
//
//     a = |P - B| / ((F - B) . u),   u = (P - B) / |P - B|.
//
// The key's colour difference instead takes F to have none of the
// backdrop's excess, which keys a red or a pale strand far too hard; the
// edge pass's candidates are only where the key left the pixel partly
// transparent, and looked for along the backdrop's line, not over the
// colour vector. Where no solid pixel in reach points the pixel's way, F
// is at most where the ray from B through P leaves the colour cube, so a is
// at least |P - B| over that distance (a faint strand far from the body
// keeps that much), and at least what the key said.
//
// A difference within ClearNoises of the clean plate's noise, or within the
// key's backdrop tolerance (which allows for the plate's compression, which
// the clean plate's smoothing does not see), is the backdrop: clear. A pixel
// the key left clear stays so unless its neighbours on both sides are above
// that too (one pixel of noise is not a strand) and it differs by more than
// the noise of two exposures from the clean plate as it came, before the
// smoothing (a crease or a shadow's edge as sharp as it was, which the key
// rightly left clear). A pixel the key made solid is lowered only below
// SpillAtMost: the backdrop's light spilled onto a rim looks exactly like a
// mix of up to a third of it (the edge pass keeps 0.65 for that over a
// backdrop of ample excess; here, with F's line known better, the hair
// keyed solid between 0.65 and 0.8 that this lowers outweighs the spilled
// rims it lowers too); one the key left nearly clear (below NearlyClear)
// is raised no further than that, since a
// compressed plate's colour bleeds from the subject into the backdrop round
// it, a difference that points at the subject just as a faint mix does. The
// pass is scalar and touches only the pixels not solid amid solid ones.
namespace {

constexpr std::uint32_t Reach = 96;  // along the row each way: the body beside a strand of hair
constexpr float Aligned = 0.85f;
constexpr float ClearNoises = 3.5f;  // chi with three degrees of freedom: 99.5% of the noise within it
constexpr float SpillAtMost = 0.8f;
constexpr float SolidFrom = 0.97f;  // a mix this near solid is solid: within the candidate's noise
constexpr float NearlyClear = 32.0f / 255;  // the backdrop that shows over a new background
constexpr float TwoExposures = 1.4142f;  // the noise of a difference of two exposures, per one's

// Marks the keyed pixels solid amid solid ones, two on either side, and
// lists them (the candidates for F), left to right.
void markSurelySolid(const Pixel32* out, std::uint32_t width, CleanPlateMarks& marks) {
  marks.surelySolid.assign(width, 0);
  marks.solidColumns.clear();
  std::uint32_t run = 0;
  for (std::uint32_t x = 0; x < width; ++x) {
    run = (out[x] >> 24) == 255 ? run + 1 : 0;
    if (run >= 5) marks.surelySolid[x - 2] = 1, marks.solidColumns.push_back(x - 2);
  }
}

float dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// F's distance from B along `direction` (unit, the pixel's own): that of
// the solid pixel within Reach of x whose own difference points most nearly
// the same way (at least Aligned, a cosine), the colour line passing closest
// to the pixel; below 0 when none is aligned.
float foregroundDistance(const CleanPlateMarks& marks, std::uint32_t x, const float direction[3]) {
  const std::vector<std::uint32_t>& solid = marks.solidColumns;
  const std::uint32_t first = x < Reach ? 0 : x - Reach;
  float bestCosine = Aligned, distance = -1;
  for (auto i = std::lower_bound(solid.begin(), solid.end(), first); i != solid.end() && *i <= x + Reach; ++i) {
    const float along = dot(marks.difference.data() + std::size_t{*i} * 3, direction);
    if (along > bestCosine * marks.length[*i]) bestCosine = along / marks.length[*i], distance = along;
  }
  return distance < 0 ? distance : std::max(distance, marks.length[x]);
}

// How far from b along `direction` (unit) the colour cube ends.
float cubeExit(const float b[3], const float direction[3]) {
  float exit = 255.0f * 1.7321f;
  for (std::size_t c = 0; c < 3; ++c) {
    if (direction[c] > 1e-6f) exit = std::min(exit, (255.0f - b[c]) / direction[c]);
    if (direction[c] < -1e-6f) exit = std::min(exit, b[c] / -direction[c]);
  }
  return exit;
}

// Whether the difference at x stands alone above the noise: one pixel of
// noise is no strand.
bool alone(const CleanPlateMarks& marks, std::uint32_t width, std::uint32_t x, float clearBelow) {
  return x == 0 || x + 1 == width || marks.length[x - 1] <= clearBelow || marks.length[x + 1] <= clearBelow;
}

// The distance between two colours.
float colourDistance(Pixel32 a, Pixel32 b) {
  float squares = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const float d = static_cast<float>((a >> shift) & 0xFF) - static_cast<float>((b >> shift) & 0xFF);
    squares += d * d;
  }
  return std::sqrt(squares);
}

// The row's differences from the clean plate and their lengths.
void differences(const Pixel32* original, std::uint32_t width, const float* backdrop, CleanPlateMarks& marks) {
  marks.difference.resize(std::size_t{width} * 3);
  marks.length.resize(width);
  for (std::uint32_t x = 0; x < width; ++x) {
    const Pixel32 p = original[x];
    const float c[3] = {static_cast<float>((p >> 16) & 0xFF), static_cast<float>((p >> 8) & 0xFF),
                        static_cast<float>(p & 0xFF)};
    float* d = marks.difference.data() + std::size_t{x} * 3;
    for (std::size_t k = 0; k < 3; ++k) d[k] = c[k] - backdrop[k * width + x];
    marks.length[x] = std::sqrt(dot(d, d));
  }
}

// The pixel's colour un-mixed against the clean plate at `alpha`, then
// despilled as the key does.
Pixel32 unmixed(const float b[3], const float d[3], float alpha, KeyChannel channel) {
  PlateFit::Colour f;
  for (std::size_t c = 0; c < 3; ++c) f[c] = std::clamp(b[c] + d[c] / alpha, 0.0f, 255.0f);
  const float backdropExcess = PlateFit::excessOf({b[0], b[1], b[2]}, channel);
  if (backdropExcess > 1) {
    PlateFit::takeOutSpill(f.data(), b, std::clamp(PlateFit::excessOf(f, channel) / backdropExcess, 0.0f, 1.0f));
  }
  return levelBits(f[0]) << 16 | levelBits(f[1]) << 8 | levelBits(f[2]) | levelBits(alpha * 255) << 24;
}

}  // namespace

void keyAgainstCleanPlate(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop,
                          const Pixel32* unsmoothed, KeyChannel channel, float noise, float backdropTolerance,
                          CleanPlateMarks& marks) {
  differences(original, width, backdrop, marks);
  markSurelySolid(out, width, marks);
  const float clearBelow = std::max(ClearNoises * noise, backdropTolerance);
  for (std::uint32_t x = 0; x < width; ++x) {
    if (marks.surelySolid[x]) continue;
    const float length = marks.length[x];
    if (length <= clearBelow) {
      out[x] = original[x] & 0x00FFFFFFu;
      continue;
    }
    const float keyed = static_cast<float>(out[x] >> 24) / 255.0f;
    const float* d = marks.difference.data() + std::size_t{x} * 3;
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
    if (keyed == 0 && (alone(marks, width, x, clearBelow) ||
                       (unsmoothed && colourDistance(original[x], unsmoothed[x]) <= TwoExposures * clearBelow))) {
      continue;
    }
    const float direction[3] = {d[0] / length, d[1] / length, d[2] / length};
    const float distance = foregroundDistance(marks, x, direction);
    float alpha = distance > 0 ? length / distance
                               : std::max(keyed, std::min(1.0f, length / std::max(cubeExit(b, direction), length)));
    if (alpha >= SolidFrom || (keyed == 1 && alpha >= SpillAtMost)) alpha = 1;
    // A pixel the key left nearly clear is raised no further than that: next
    // to a compressed subject its colour bleeds into the backdrop, a
    // difference that points at the subject as a faint mix would.
    if (keyed > 0 && keyed < NearlyClear) alpha = std::min(alpha, NearlyClear - 1.0f / 255);
    out[x] = unmixed(b, d, alpha, channel);
  }
}

}  // namespace Kvl::PlateKey

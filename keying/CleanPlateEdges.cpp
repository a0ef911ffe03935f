#include "CleanPlateEdges.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DeepPixel.h"
#include "PlateCells.h"

namespace Kvl::PlateKey {

// With a clean plate, B, the backdrop behind a pixel P, is known, not
// modelled, and a mix P = a F + (1 - a) B lies on the segment from B to the
// foreground F: the difference P - B points from B straight at F over the
// whole colour vector, whatever F's hue, and its length is a times F's
// distance from B. Only F is unknown. The foreground round the pixel tells
// it: of the pixels solid amid solid ones within Reach along eight rays
// (the row, the column and both diagonals, each way; not the pixel
// itself), the one whose own difference points most nearly the same way
// (at least Aligned, a cosine) is taken as F, and
//
//     a = |P - B| / ((F - B) . u),   u = (P - B) / |P - B|.
//
// The rays find the body above or below a strand as well as beside it: the
// fuzz along the top of a fleece has no solid pixel in its own row. Further
// than Reach, the body's other colours win the choice more often than they
// help. The key's colour difference instead takes F to have none of the
// backdrop's excess, which keys a red or a pale strand far too hard; the
// edge pass's candidates are only where the key left the pixel partly
// transparent, and looked for along the backdrop's line, not over the
// colour vector. Where no solid pixel in reach points the pixel's way, F
// is at most where the ray from B through P leaves the colour cube, so a is
// at least |P - B| over that distance (a faint strand far from the body
// keeps that much), and at least what the key said.
//
// A difference within ClearNoises of the clean plate's noise, or within
// half the key's backdrop tolerance, is the backdrop: clear. The key's
// tolerance is wide enough to clear a backdrop it only models; against the
// backdrop itself, half of it lets through the faint mixes the whole would
// clear. Where the clean plate came compressed, a difference of nearly no
// brightness whose chroma lies within the compression's error is the
// backdrop too (compressionErrorOnly). A pixel the key left clear stays so unless it differs by
// more than the whole tolerance (a compressed plate's colour bleeds from the
// subject into the backdrop round it, a difference that points at the
// subject just as a faint mix does), its neighbours on both sides are above
// the clear limit too (one pixel of noise is not a strand), and it differs
// by more than the noise of two exposures from the clean plate as it came,
// before the smoothing (a crease or a shadow's edge as sharp as it was,
// which the key rightly left clear). A pixel the key made solid is lowered
// only below SpillAtMost: the backdrop's light spilled onto a rim looks
// exactly like a mix of up to a third of it (the edge pass keeps 0.65 for
// that over a backdrop of ample excess; here, with F's line known better,
// the hair keyed solid between 0.65 and 0.8 that this lowers outweighs the
// spilled rims it lowers too); one the key left nearly clear (below
// NearlyClear) is raised no further than that, for the same bleeding. The
// pass is scalar and touches only the pixels not solid amid solid ones.
namespace {

constexpr std::uint32_t Reach = 48;  // along each ray, in steps of a pixel along the row or column
constexpr float Aligned = 0.85f;
constexpr float ClearNoises = 3.5f;  // chi with three degrees of freedom: 99.5% of the noise within it
constexpr float ClearTolerances = 0.5f;
constexpr float CompressedClearNoises = 2;  // Cb and Cr carry about half a channel's noise each
constexpr std::ptrdiff_t NearestSolid = 4;  // against the modelled backdrop: on either side
constexpr float SpillAtMost = 0.8f;
constexpr float SolidFrom = 0.97f;  // a mix this near solid is solid: within the candidate's noise
constexpr float NearlyClear = 32.0f / 255;  // the backdrop that shows over a new background
constexpr float TwoExposures = 1.4142f;  // the noise of a difference of two exposures, per one's

float dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// A ray searched for the foreground: its step, and how many steps reach
// about as far as Reach along the row does.
struct Ray {
  int dx, dy;
  std::uint32_t steps;
};
constexpr std::uint32_t DiagonalReach = Reach * 7 / 10;
constexpr Ray Rays[] = {{1, 0, Reach},          {-1, 0, Reach},         {0, 1, Reach},          {0, -1, Reach},
                        {1, 1, DiagonalReach}, {-1, 1, DiagonalReach}, {1, -1, DiagonalReach}, {-1, -1, DiagonalReach}};

// The difference from the clean plate of the pixel at `index`.
void differenceAt(const CleanPlatePicture& picture, const CleanPlate& clean, std::size_t index, float d[3]) {
  const Pixel32 p = picture.original[index], b = clean.pixels[index];
  for (int c = 0, shift = 16; c < 3; ++c, shift -= 8) {
    d[c] = static_cast<float>((p >> shift) & 0xFF) - static_cast<float>((b >> shift) & 0xFF);
  }
}

// F's distance from B along `direction` (unit, the pixel's own): that of
// the solid pixel within Reach of (x, y) along the rays whose own
// difference points most nearly the same way (at least Aligned, a cosine),
// the colour line passing closest to the pixel; below 0 when none is aligned.
float foregroundDistance(const CleanPlatePicture& picture, const CleanPlate& clean, std::uint32_t x, std::uint32_t y,
                         float ownLength, const float direction[3]) {
  float bestCosine = Aligned, distance = -1;
  for (const Ray& ray : Rays) {
    std::int64_t px = x, py = y;
    for (std::uint32_t step = 0; step < ray.steps; ++step) {
      px += ray.dx, py += ray.dy;
      if (px < 0 || py < 0 || px >= picture.width || py >= picture.height) break;
      const std::size_t index = static_cast<std::size_t>(py) * picture.width + static_cast<std::size_t>(px);
      if (!picture.surelySolid[index]) continue;
      float d[3];
      differenceAt(picture, clean, index, d);
      const float along = dot(d, direction);
      if (along <= 0) continue;
      const float length = std::sqrt(dot(d, d));
      if (along > bestCosine * length) bestCosine = along / length, distance = along;
    }
  }
  return distance < 0 ? distance : std::max(distance, ownLength);
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

// The pixel's colour un-mixed against its backdrop at `alpha`, then
// despilled as the key does, in `f`; levels from 0 to `mostLevel` (255 for
// 8-bit pixels; a float pixel keeps its highlights above 1).
void unmixedColour(const float b[3], const float d[3], float alpha, KeyChannel channel, float f[3],
                   float mostLevel = 255.0f) {
  const float unmix = 1 / alpha;
  for (std::size_t c = 0; c < 3; ++c) f[c] = std::clamp(b[c] + d[c] * unmix, 0.0f, mostLevel);
  const float backdropExcess = PlateFit::excessOf({b[0], b[1], b[2]}, channel);
  if (backdropExcess > 1) {
    PlateFit::takeOutSpill(f, b, std::clamp(PlateFit::excessOf({f[0], f[1], f[2]}, channel) / backdropExcess, 0.0f, 1.0f));
  }
}

Pixel32 eightBitPixel(const float f[3], float alpha) {
  return levelBits(f[0]) << 16 | levelBits(f[1]) << 8 | levelBits(f[2]) | levelBits(alpha * 255) << 24;
}

Pixel32 unmixed(const float b[3], const float d[3], float alpha, KeyChannel channel) {
  float f[3];
  unmixedColour(b, d, alpha, channel, f);
  return eightBitPixel(f, alpha);
}

// Whether a difference `d` from the clean plate is the compression's error
// alone, where the clean plate came compressed (and the plate with it):
// a compressed picture keeps its brightness nearly whole, and rings and
// bleeds its colour (compressionErrorOf, against this backdrop's chroma),
// so the difference's brightness must lie within the noise (`clearBelow`)
// and its chroma within the compression's error added to the noise.
bool compressionErrorOnly(const float b[3], const float d[3], const CleanPlate& clean, float clearBelow) {
  if (clean.colourQuantisation <= 0) return false;
  const float luma = 0.299f * d[0] + 0.587f * d[1] + 0.114f * d[2];
  if (std::abs(luma) > clearBelow) return false;
  const float compression = PlateFit::compressionErrorOf(PlateFit::chromaOf({b[0], b[1], b[2]}), clean.colourQuantisation);
  const float noise = std::sqrt(clean.noise * clean.noise + compression * compression);
  return PlateFit::chromaOf({d[0], d[1], d[2]}) <= CompressedClearNoises * noise;
}

// The alpha of a pixel not solid amid solid ones, keyed again from its
// difference `d` (of `length`) from its backdrop `b`: `fromForeground`,
// its difference's length over F's distance along its way (0 or below
// when no solid pixel near points that way: then at least what the key
// said, and at least its length over the distance to the colour cube's
// side), then the limits the key's own verdict (`keyed`, its alpha) sets.
float alphaAgain(float keyed, const float b[3], const float d[3], float length, float fromForeground) {
  float alpha = fromForeground;
  if (alpha <= 0) {
    const float direction[3] = {d[0] / length, d[1] / length, d[2] / length};
    alpha = std::max(keyed, std::min(1.0f, length / std::max(cubeExit(b, direction), length)));
  }
  if (alpha >= SolidFrom || (keyed == 1 && alpha >= SpillAtMost)) alpha = 1;
  // A pixel the key left nearly clear is raised no further than that: next
  // to a compressed subject its colour bleeds into the backdrop round it, a
  // difference that points at the subject as a faint mix would.
  if (keyed > 0 && keyed < NearlyClear) alpha = std::min(alpha, NearlyClear - 1.0f / 255);
  return alpha;
}

// The first index from x on (up to `width`) whose byte is not `value`,
// eight at a time where it can.
std::uint32_t endOfRun(const std::uint8_t* bytes, std::uint32_t x, std::uint32_t width, std::uint8_t value) {
  const std::uint64_t all = 0x0101010101010101u * value;
  for (std::uint64_t word; x + 8 <= width && (std::memcpy(&word, bytes + x, 8), word == all);) x += 8;
  while (x < width && bytes[x] == value) ++x;
  return x;
}

// The keyed row as the pass against the model sees it, for 8-bit pixels
// and for float ones: the colours as they came, in levels; each keyed
// pixel's alpha, and what it is (0 clear, 255 solid, between: neither);
// the pixel cleared or written back un-mixed.
struct EightBitPixels {
  const Pixel32* original;
  Pixel32* out;
  PlateFit::Colour colour(std::size_t x) const { return PlateFit::colourOf(original[x]); }
  float alpha(std::size_t x) const { return static_cast<float>(out[x] >> 24) / 255.0f; }
  void clear(std::size_t x) const { out[x] = original[x] & 0x00FFFFFFu; }
  void write(std::size_t x, const float f[3], float alpha) const { out[x] = eightBitPixel(f, alpha); }
  // Apart: a byte may alias anything, and the compiler would not copy the
  // alphas in blocks.
  static void states(const Pixel32* __restrict pixels, std::uint32_t count, std::uint8_t* __restrict states) {
    for (std::uint32_t x = 0; x < count; ++x) states[x] = static_cast<std::uint8_t>(pixels[x] >> 24);
  }
  void states(std::uint32_t width, std::uint8_t* states) const { EightBitPixels::states(out, width, states); }
  static float mostLevel(std::uint32_t) { return 255.0f; }
};

struct FloatPixels {
  const PixelF* original;
  PixelF* out;
  PlateFit::Colour colour(std::size_t x) const {
    return {original[x].red * 255.0f, original[x].green * 255.0f, original[x].blue * 255.0f};
  }
  float alpha(std::size_t x) const { return out[x].alpha; }
  void clear(std::size_t x) const { out[x] = {original[x].red, original[x].green, original[x].blue, 0}; }
  void write(std::size_t x, const float f[3], float alpha) const {
    out[x] = {f[0] / 255.0f, f[1] / 255.0f, f[2] / 255.0f, alpha};
  }
  void states(std::uint32_t width, std::uint8_t* states) const {
    for (std::uint32_t x = 0; x < width; ++x) {
      const float a = out[x].alpha;
      states[x] = a <= 0 ? 0 : a >= 1 ? 255 : static_cast<std::uint8_t>(std::clamp(levelBits(a * 255), 1u, 254u));
    }
  }
  // The most an un-mixed colour may reach, in levels: a float picture's
  // highlights go above 1, and a foreground beside them may be as bright,
  // but no brighter than the row's brightest sample (an un-mix by too
  // small an alpha overshoots; 8-bit samples then key as 8-bit pixels do).
  float mostLevel(std::uint32_t width) const {
    float most = 1.0f;
    for (std::uint32_t x = 0; x < width; ++x) most = std::max({most, original[x].red, original[x].green, original[x].blue});
    return most * 255.0f;
  }
};

// Keeps what the row's keyed pixels are and lists its runs of solid pixels
// at least five long, whose pixels two from either end on (the run's core)
// are solid amid solid ones. False when the row is clear throughout.
template <typename Row>
bool findSolidRuns(const Row& row, std::uint32_t width, ModelledBackdropMarks& marks) {
  marks.alpha.resize(width);
  row.states(width, marks.alpha.data());
  if (endOfRun(marks.alpha.data(), 0, width, 0) == width) return false;
  marks.solidRuns.clear();
  for (std::uint32_t x = 0; x < width;) {
    if (marks.alpha[x] != 255) {
      x = marks.alpha[x] == 0 ? endOfRun(marks.alpha.data(), x, width, 0) : x + 1;
      continue;
    }
    const std::uint32_t end = endOfRun(marks.alpha.data(), x, width, 255);
    if (end - x >= 5) marks.solidRuns.push_back({x + 2, end - 2});
    x = end;
  }
  marks.known.assign(width, 0);
  marks.differences.resize(std::size_t{width} * 4);
  return true;
}

// The difference from the backdrop of the solid pixel at `column`, and its
// length (the fourth value), worked out once a row.
template <typename Row>
const float* solidDifference(const Row& row, std::uint32_t width, const float* backdrop, ModelledBackdropMarks& marks,
                             std::uint32_t column) {
  float* d = marks.differences.data() + std::size_t{column} * 4;
  if (!marks.known[column]) {
    const PlateFit::Colour c = row.colour(column);
    for (std::size_t k = 0; k < 3; ++k) d[k] = c[k] - backdrop[k * width + column];
    d[3] = std::sqrt(dot(d, d));
    marks.known[column] = 1;
  }
  return d;
}

// The pixel's alpha by the foreground against the modelled backdrop: of
// the NearestSolid pixels solid amid solid ones nearest to x on either
// side within Reach, the one whose own difference c points most nearly the
// pixel's way d (a cosine of at least Aligned) gives a = |d|^2 / (c . d),
// at most 1; 0 when none points that way. `nextCore` is the first run whose
// core lies right of x. Squares all through: no root or division a
// candidate, the same choice.
template <typename Row>
float alphaByNearestAligned(const Row& row, std::uint32_t width, const float* backdrop, ModelledBackdropMarks& marks,
                            std::size_t nextCore, std::uint32_t x, const float d[3], float lengthSquared) {
  // A candidate beats the best so far when its squared cosine,
  // (c . d)^2 / (|c|^2 |d|^2), is larger; the nearer wins a tie.
  float bestAlong = 0, bestCosineSquared = Aligned * Aligned;
  const auto consider = [&](std::uint32_t column) {
    const float* c = solidDifference(row, width, backdrop, marks, column);
    const float along = dot(c, d);
    if (along <= 0) return;
    const float alongSquared = along * along, bound = c[3] * c[3] * lengthSquared;
    if (alongSquared > bestCosineSquared * bound) bestAlong = along, bestCosineSquared = alongSquared / bound;
  };
  const std::vector<SolidRun>& runs = marks.solidRuns;
  std::ptrdiff_t left = NearestSolid;
  for (std::size_t run = nextCore; run-- > 0 && left > 0;) {
    for (std::uint32_t column = runs[run].end; column-- > runs[run].first && left > 0; --left) {
      if (column + Reach < x) left = 0;
      else consider(column);
    }
  }
  std::ptrdiff_t right = NearestSolid;
  for (std::size_t run = nextCore; run < runs.size() && right > 0; ++run) {
    for (std::uint32_t column = runs[run].first; column < runs[run].end && right > 0; ++column, --right) {
      if (column > x + Reach) right = 0;
      else consider(column);
    }
  }
  return bestAlong > 0 ? std::min(1.0f, lengthSquared / bestAlong) : 0;
}

template <typename Row>
void keyRowAgainstModel(const Row& row, std::uint32_t width, const float* backdrop, KeyChannel channel,
                        float backdropTolerance, const std::uint8_t* unmixedByEdgePass, ModelledBackdropMarks& marks) {
  if (!findSolidRuns(row, width, marks)) return;
  const float clearBelow = ClearTolerances * backdropTolerance;
  float mostLevel = -1;  // worked out at the row's first un-mix, if any
  // The pass reads what the pixels were as keyed (marks.alpha) and the
  // candidates' colours as they came, so it may write as it goes. It skips
  // clear pixels and the runs' cores, most of a row, and the pixels the
  // edge pass un-mixed against the foreground beside them: a blurred edge
  // of a saturated colour, whose mixes the key keyed solid, lies on the line
  // from the backdrop to those very mixes, and against them would come out
  // solid again.
  std::size_t nextCore = 0;
  for (std::uint32_t x = 0; x < width;) {
    if (nextCore < marks.solidRuns.size() && x == marks.solidRuns[nextCore].first) {
      x = marks.solidRuns[nextCore++].end;
      continue;
    }
    if (marks.alpha[x] == 0) {
      x = endOfRun(marks.alpha.data(), x, width, 0);
      continue;
    }
    if (unmixedByEdgePass[x]) {
      ++x;
      continue;
    }
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
    const PlateFit::Colour colour = row.colour(x);
    const float d[3] = {colour[0] - b[0], colour[1] - b[1], colour[2] - b[2]};
    const float lengthSquared = dot(d, d);
    if (lengthSquared <= clearBelow * clearBelow) {
      row.clear(x);
    } else {
      const float keyed = row.alpha(x);
      const float fromForeground = alphaByNearestAligned(row, width, backdrop, marks, nextCore, x, d, lengthSquared);
      const float alpha = alphaAgain(keyed, b, d, fromForeground > 0 ? 0 : std::sqrt(lengthSquared), fromForeground);
      // Where the alpha stands, the key's colour stands too.
      if (levelBits(alpha * 255) != levelBits(keyed * 255)) {
        if (mostLevel < 0) mostLevel = row.mostLevel(width);
        float f[3];
        unmixedColour(b, d, alpha, channel, f, mostLevel);
        row.write(x, f, alpha);
      }
    }
    ++x;
  }
}

}  // namespace

void markSurelySolid(const Pixel32* keyed, std::uint32_t width, std::uint32_t height, std::uint8_t* marks) {
  const auto solid = [&](std::int64_t x, std::int64_t y) {
    return x >= 0 && y >= 0 && x < width && y < height &&
           (keyed[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)] >> 24) == 255;
  };
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      bool amidSolid = solid(x, y);
      for (std::int64_t k = 1; amidSolid && k <= 2; ++k) {
        amidSolid = solid(x - k, y) && solid(x + k, y) && solid(x, y - k) && solid(x, y + k);
      }
      marks[std::size_t{y} * width + x] = amidSolid;
    }
  }
}

void keyAgainstCleanPlate(const CleanPlatePicture& picture, std::uint32_t topRow, const float* backdrop,
                          const CleanPlate& clean, KeyChannel channel, float backdropTolerance,
                          CleanPlateMarks& marks) {
  const std::uint32_t width = picture.width;
  const std::size_t rowStart = std::size_t{topRow} * width;
  const Pixel32* original = picture.original + rowStart;
  Pixel32* out = picture.keyed + rowStart;
  const Pixel32* unsmoothed = clean.unsmoothed.size() == clean.pixels.size() ? clean.unsmoothed.data() + rowStart : nullptr;
  differences(original, width, backdrop, marks);
  const float clearBelow = std::max(ClearNoises * clean.noise, ClearTolerances * backdropTolerance);
  for (std::uint32_t x = 0; x < width; ++x) {
    if (picture.surelySolid[rowStart + x]) continue;
    const float length = marks.length[x];
    if (length <= clearBelow) {
      out[x] = original[x] & 0x00FFFFFFu;
      continue;
    }
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
    const float* d = marks.difference.data() + std::size_t{x} * 3;
    if (compressionErrorOnly(b, d, clean, clearBelow)) {
      out[x] = original[x] & 0x00FFFFFFu;
      continue;
    }
    const float keyed = static_cast<float>(out[x] >> 24) / 255.0f;
    if (keyed == 0 && (length <= backdropTolerance || alone(marks, width, x, clearBelow) ||
                       (unsmoothed && colourDistance(original[x], unsmoothed[x]) <= TwoExposures * clearBelow))) {
      continue;
    }
    const float direction[3] = {d[0] / length, d[1] / length, d[2] / length};
    const float distance = foregroundDistance(picture, clean, x, topRow, length, direction);
    out[x] = unmixed(b, d, alphaAgain(keyed, b, d, length, distance > 0 ? length / distance : 0), channel);
  }
}

void keyAgainstModelledBackdrop(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop,
                                KeyChannel channel, float backdropTolerance, const std::uint8_t* unmixedByEdgePass,
                                ModelledBackdropMarks& marks) {
  keyRowAgainstModel(EightBitPixels{original, out}, width, backdrop, channel, backdropTolerance, unmixedByEdgePass,
                     marks);
}

void keyAgainstModelledBackdrop(const PixelF* original, PixelF* out, std::uint32_t width, const float* backdrop,
                                KeyChannel channel, float backdropTolerance, const std::uint8_t* unmixedByEdgePass,
                                ModelledBackdropMarks& marks) {
  keyRowAgainstModel(FloatPixels{original, out}, width, backdrop, channel, backdropTolerance, unmixedByEdgePass,
                     marks);
}

}  // namespace Kvl::PlateKey

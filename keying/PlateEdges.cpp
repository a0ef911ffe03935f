#include "PlateEdges.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "PlateCells.h"

namespace Kvl::PlateKey {

using PlateFit::Colour;
using PlateFit::colourOf;
using PlateFit::excessOf;
using PlateFit::takeOutSpill;

// Edges, un-mixed along the row against the foreground beside them.
//
// The colour difference takes a pixel's alpha from how much of the
// backdrop's excess it lacks, as if the foreground had no excess of its own;
// the hue, from how far it lies off the backdrop's line. Both misjudge a mix
// whose foreground is far from that assumption: a saturated red edge has
// much less key channel than none (keyed too hard), a pale or bluish one
// lies far off the line (keyed too hard by hue), and over a backdrop with
// little excess (a dim lime wall, a few levels of green over red) white fur
// loses next to nothing of it when half of it covers the wall (keyed solid).
// Where the foreground is in view nearby, though, its colour is known: a
// mix P of it, F, and the local backdrop B lies on the segment between
// them, and
//
//     a = (P - B).(F - B) / |F - B|^2
//
// is its alpha (the colour-line model of matting, as in Gastal and
// Oliveira's shared sampling, 2010, here with the candidates taken along
// the row, so that rows stay independent). On either side within
// EdgeReach, of the pixels solid amid solid ones that lie nearly as far in
// colour from B as the farthest (a short line divides the noise by little),
// the one whose line passes closest to P is the candidate: fur and hair
// vary along a strand, and the farthest alone is often a highlight the mix
// does not contain. Of the two candidates, the one whose line passes closer
// is taken, and only when that distance is within the hue tolerance, the
// noise off the line: otherwise the pixel is a mix of something else (glass
// over the backdrop, a strand in front of another) and keeps its alpha.
// The pixels the key left partly transparent are looked at again, the
// solid ones within SolidRim of them, and the nearly clear ones that lie
// well off the backdrop's colour; the pass is scalar.
namespace {

constexpr std::uint32_t EdgeReach = 24;
constexpr std::uint32_t SolidRim = 20;
// Over a backdrop of little excess the colour difference keys the mixes of
// a soft subject (blonde hair, fur) solid much farther in than that: the
// rim looked at there.
constexpr std::uint32_t WideSolidRim = 40;
constexpr float NearlyClear = 32;  // alpha levels: the backdrop that shows over a new background
// A pixel the key left nearly clear is looked at again only this many
// backdrop tolerances or more from the local backdrop in colour: beyond the
// noise and the model's error, so a backdrop pixel beside a subject, which
// would project onto its line as a faint mix, stays clear.
constexpr float ClearBeyondTolerances = 2.5f;
// A candidate at least this share of the farthest one's squared distance from B.
constexpr float FarEnough = 0.85f;
// A solid pixel is lowered only to an alpha below this: the backdrop's
// light spilled onto a subject's rim mixes up to about a third of the
// backdrop's colour into it, which looks exactly like a mix of that alpha.
constexpr float SpillAtMost = 0.65f;
// Spill fades within a few pixels of the subject's outline: from this many
// pixels in from the nearest one the key left below solid, a rim pixel may
// be lowered to an alpha below SpillAtMostInside, but only where it lies
// within TightFit hue tolerances of its line. Of the troll dolls' hair so
// lowered, far more were mixes of true alpha 0.5 to 0.75 than solid; a
// looser fit also lowered the shading of pale wool strands over green in
// JPEG, whose chroma noise lets many colours pass for a line's mixes.
constexpr std::uint32_t SpillReach = 4;
constexpr float SpillAtMostInside = 0.75f;
constexpr float TightFit = 0.5f;
// Over a backdrop with less key-channel excess than the two tolerances
// together (a dim lime wall) the colour difference keys the rim's mixes
// solid well beyond that share, and spill, the backdrop's own dull colour,
// moves a rim's colour less: the limit there.
constexpr float SpillAtMostOnLowExcess = 0.8f;
// The hue's alpha below which it does not count as having made the pixel
// foreground (keyedByHue): over a dim lime wall a pale or warm mix lies a
// little off the backdrop's line, which gives it a faint hue alpha, while
// the colour difference, with next to no excess to measure, says nothing.
constexpr float HueSpeaksFrom = 0.4f;

struct Unmixed {
  float alpha = -1;  // below 0: no candidate explains the pixel
  float candidateExcess = 0;
  float distortion = 0;  // how far the pixel lies off the candidate's line, squared
};

// The keyed row as the pass sees it, for 8-bit pixels and for float ones:
// the colours as they came, in levels; each keyed pixel's alpha in levels
// (0 to 255); and the pixel written back un-mixed.
struct EightBitRow {
  const Pixel32* original;
  Pixel32* out;
  Colour colour(std::size_t x) const { return colourOf(original[x]); }
  float level(std::size_t x) const { return static_cast<float>(out[x] >> 24); }
  void write(std::size_t x, const float f[3], float alpha) const {
    out[x] = levelBits(f[0]) << 16 | levelBits(f[1]) << 8 | levelBits(f[2]) | levelBits(alpha * 255) << 24;
  }
};

struct FloatRow {
  const PixelF* original;
  PixelF* out;
  Colour colour(std::size_t x) const {
    return {original[x].red * 255.0f, original[x].green * 255.0f, original[x].blue * 255.0f};
  }
  float level(std::size_t x) const { return out[x].alpha * 255.0f; }
  void write(std::size_t x, const float f[3], float alpha) const {
    out[x] = {f[0] / 255.0f, f[1] / 255.0f, f[2] / 255.0f, alpha};
  }
};

bool solidLevel(float level) { return level >= 255.0f; }

// The row's runs of solid pixels, each as [first, end), left to right: a
// row is most often long runs of clear and of solid, which are then marked
// a run at a time rather than a pixel at a time.
template <typename Row>
void findSolidRuns(const Row& row, std::uint32_t width, std::vector<SolidRun>& runs) {
  runs.clear();
  for (std::uint32_t x = 0; x < width;) {
    if (!solidLevel(row.level(x))) {
      ++x;
      continue;
    }
    const std::uint32_t first = x;
    while (x < width && solidLevel(row.level(x))) ++x;
    runs.push_back({first, x});
  }
}

// Marks the keyed pixels solid amid solid ones, two on either side:
// foreground for sure, not a lone mix keyed hard (a speck of glass).
void markSurelySolid(const std::vector<SolidRun>& runs, std::uint32_t width, std::vector<std::uint8_t>& sure) {
  sure.assign(width, 0);
  for (const SolidRun& run : runs) {
    if (run.end - run.first >= 5) std::fill(sure.data() + run.first + 2, sure.data() + run.end - 2, std::uint8_t{1});
  }
}

// Marks the solid pixels within `reach` (at most 255) of one the key left
// below solid with their distance from the nearest such one, others 0: the
// rim of the solid matte, where the colour difference keys a mix with a
// foreground of as little excess as the backdrop's solid. The row's ends
// do not count as below solid.
void markSolidRim(const std::vector<SolidRun>& runs, std::uint32_t width, std::uint32_t reach,
                  std::vector<std::uint8_t>& rim) {
  rim.assign(width, 0);
  constexpr std::uint32_t Far = std::numeric_limits<std::uint32_t>::max();
  for (const SolidRun& run : runs) {
    const auto mark = [&](std::uint32_t x) {
      const std::uint32_t fromLeft = run.first > 0 ? x - run.first + 1 : Far;
      const std::uint32_t fromRight = run.end < width ? run.end - x : Far;
      const std::uint32_t distance = std::min(fromLeft, fromRight);
      if (distance <= reach) rim[x] = static_cast<std::uint8_t>(distance);
    };
    const std::uint32_t leftEnd = std::min(run.end, run.first + reach);
    for (std::uint32_t x = run.first; x < leftEnd; ++x) mark(x);
    for (std::uint32_t x = std::max(leftEnd, run.end > reach ? run.end - reach : 0); x < run.end; ++x) mark(x);
  }
}

// Marks the pixels within EdgeReach of a pixel solid amid solid ones, on
// either side: those for which `gather` can find a candidate at all. A
// byte a pixel, so that the backdrop the key cleared, most of a picture, is
// passed over at the cost of one test each.
void markNearSure(const std::vector<std::uint8_t>& sure, std::uint32_t width, std::vector<std::uint8_t>& near) {
  near.resize(width);
  std::uint32_t since = EdgeReach + 1;  // pixels since the last sure one, up to EdgeReach + 1
  for (std::uint32_t x = 0; x < width; ++x) {
    near[x] = since <= EdgeReach ? 1 : 0;
    since = sure[x] ? 1 : std::min(since + 1, EdgeReach + 1);
  }
  since = EdgeReach + 1;
  for (std::uint32_t x = width; x-- > 0;) {
    near[x] |= since <= EdgeReach ? 1 : 0;
    since = sure[x] ? 1 : std::min(since + 1, EdgeReach + 1);
  }
}

float squaredLength(const float v[3]) { return v[0] * v[0] + v[1] * v[1] + v[2] * v[2]; }

// How far P lies off the line from B through F, squared, and its alpha on it.
float squaredDistortion(const float e[3], const float d[3], float dd, float* alpha) {
  const float a = clamp01((e[0] * d[0] + e[1] * d[1] + e[2] * d[2]) / dd);
  const float r[3] = {e[0] - a * d[0], e[1] - a * d[1], e[2] - a * d[2]};
  if (alpha) *alpha = a;
  return squaredLength(r);
}

// The pixels solid amid solid ones within reach on one side of a pixel,
// each with its colour less the pixel's backdrop and that squared: gathered
// once, for both the farthest and the choice among them.
struct Side {
  std::int32_t at[EdgeReach];
  float d[EdgeReach][3];
  float dd[EdgeReach];
  std::uint32_t count = 0;
  float farthest = 0;
};

template <typename Row>
void gather(int step, std::uint32_t x, std::uint32_t width, const Row& row, const std::uint8_t* sure, const float b[3],
            Side& side) {
  side.count = 0;
  side.farthest = 0;
  for (std::uint32_t k = 1; k <= EdgeReach; ++k) {
    const std::int64_t at = static_cast<std::int64_t>(x) + step * static_cast<std::int64_t>(k);
    if (at < 0 || at >= static_cast<std::int64_t>(width)) break;
    if (!sure[at]) continue;
    const Colour f = row.colour(static_cast<std::size_t>(at));
    const std::uint32_t n = side.count++;
    side.at[n] = static_cast<std::int32_t>(at);
    for (std::size_t c = 0; c < 3; ++c) side.d[n][c] = f[c] - b[c];
    side.dd[n] = squaredLength(side.d[n]);
    side.farthest = larger(side.farthest, side.dd[n]);
  }
}

// The farthest of the candidates `gather` finds on one side, squared, by
// the same sums, none kept: enough to tell most of a subject's rim stays
// solid (staysSolid) at a fraction of the cost.
template <typename Row>
float farthestOn(int step, std::uint32_t x, std::uint32_t width, const Row& row, const std::uint8_t* sure,
                 const float b[3]) {
  const std::uint32_t room = step < 0 ? x : width - 1 - x;
  const std::uint32_t reach = room < EdgeReach ? room : EdgeReach;
  float farthest = 0;
  for (std::uint32_t k = 1; k <= reach; ++k) {
    const std::size_t at = step < 0 ? x - k : x + k;
    if (!sure[at]) continue;
    const Colour f = row.colour(at);
    const float d[3] = {f[0] - b[0], f[1] - b[1], f[2] - b[2]};
    farthest = larger(farthest, squaredLength(d));
  }
  return farthest;
}

// A bound on the farthest candidate that costs next to nothing per pixel:
// each channel's range over the candidates of the pixels within
// BlocksAround blocks of Block pixels of the pixel's own block (more pixels
// than the reach holds, so never less than the farthest among those), its
// far corner's distance from the backdrop. Each step of that sum rounds no
// lower than the same step for any candidate does, so a finite bound is a
// true one, and a rim pixel it shows to stay solid stays solid by the exact
// farthest too; others are asked again exactly. Taken once per block, and
// only for blocks with a pixel to look at. A colour that is not a number
// spans the whole line, so that its bound is no finite one.
constexpr std::uint32_t Block = 8;
constexpr std::uint32_t BlocksAround = (EdgeReach + Block - 1) / Block;

struct NearbyCandidates {
  float least[3] = {}, most[3] = {};
  bool any = false;  // none: neither side gathers a candidate
};

template <typename Row>
NearbyCandidates nearbyCandidates(const Row& row, std::uint32_t width, const std::uint8_t* sure, std::size_t block) {
  constexpr float Infinite = std::numeric_limits<float>::infinity();
  NearbyCandidates near{{Infinite, Infinite, Infinite}, {-Infinite, -Infinite, -Infinite}};
  const std::size_t first = block < BlocksAround ? 0 : (block - BlocksAround) * Block;
  const std::size_t end = std::min<std::size_t>(width, (block + BlocksAround + 1) * Block);
  for (std::size_t x = first; x < end; ++x) {
    if (!sure[x]) continue;
    near.any = true;
    const Colour f = row.colour(x);
    for (std::size_t c = 0; c < 3; ++c) {
      const bool number = f[c] == f[c];
      near.least[c] = number ? smaller(near.least[c], f[c]) : -Infinite;
      near.most[c] = number ? larger(near.most[c], f[c]) : Infinite;
    }
  }
  return near;
}

float farthestAtMost(const NearbyCandidates& near, const float b[3]) {
  if (!near.any) return 0;
  float m[3];
  for (std::size_t c = 0; c < 3; ++c) m[c] = larger(near.most[c] - b[c], b[c] - near.least[c]);
  return squaredLength(m);
}

// The foreground candidate on one side, as above: -1 when there is none at
// least `minimum` (squared) from the backdrop. `e` is the pixel less its
// backdrop.
std::int32_t candidateOf(const Side& side, const float e[3], float minimum) {
  const float least = larger(minimum, FarEnough * side.farthest);
  std::int32_t best = -1;
  float bestDistortion = 0;
  for (std::uint32_t n = 0; n < side.count; ++n) {
    if (side.dd[n] < least) continue;
    const float distortion = squaredDistortion(e, side.d[n], side.dd[n], nullptr);
    if (best < 0 || distortion < bestDistortion) bestDistortion = distortion, best = side.at[n];
  }
  return best;
}

// Whether a solid pixel is surely left solid, before any candidate is
// chosen: lowered, its alpha a on a line of length |F - B| within the hue
// tolerance of it, |P - B|^2 = a^2 |F - B|^2 + distortion^2 is below
// SpillAtMost^2 times the farthest candidate's plus the tolerance's square
// (a margin added for rounding), so a pixel as far from the backdrop as
// that, most of a subject's rim, needs no closer look.
bool staysSolid(const float e[3], float farthest, Tolerances t, float spillAtMost) {
  const float bound = spillAtMost * spillAtMost * farthest * 1.001f + t.hue * t.hue + 1.0f;
  return squaredLength(e) >= bound;
}

// staysSolid for a bound on the farthest (farthestAtMost): only a finite
// one is a true bound.
bool boundedFarthestStaysSolid(const float e[3], float bound, Tolerances t, float spillAtMost) {
  return bound < std::numeric_limits<float>::infinity() && staysSolid(e, bound, t, spillAtMost);
}

template <typename Row>
Unmixed unmixAgainst(const float p[3], const float b[3], const Row& row, const std::int32_t candidates[2],
                     KeyChannel channel, Tolerances t) {
  Unmixed best;
  float bestDistortion = t.hue * t.hue;
  const float e[3] = {p[0] - b[0], p[1] - b[1], p[2] - b[2]};
  for (int i = 0; i < 2; ++i) {
    if (candidates[i] < 0) continue;
    const Colour f = row.colour(static_cast<std::size_t>(candidates[i]));
    const float d[3] = {f[0] - b[0], f[1] - b[1], f[2] - b[2]};
    float a = 0;
    const float distortion = squaredDistortion(e, d, squaredLength(d), &a);
    if (distortion < bestDistortion) {
      bestDistortion = distortion;
      best = {a, excessOf(f, channel), distortion};
    }
  }
  return best;
}

// Whether the key's hue, not its colour difference, made the pixel
// foreground (as in the key): such a pixel is not of the kind the colour
// line here measures (glass, a green object) and keeps its alpha.
bool keyedByHue(const Colour& p, const float b[3], KeyChannel channel, Tolerances t) {
  const float backdropExcess = excessOf({b[0], b[1], b[2]}, channel);
  const float pixelExcess = excessOf(p, channel);
  const float span = larger(backdropExcess - t.backdrop - t.foreground, 8.0f);
  const float byDifference = clamp01((backdropExcess - t.backdrop - pixelExcess) / span);
  const float bb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
  const float pb = p[0] * b[0] + p[1] * b[1] + p[2] * b[2];
  const float pp = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
  const float offLine = std::sqrt(larger(0.0f, pp - pb * pb / larger(bb, 1.0f)));
  const float greenness = clamp01(pixelExcess / larger(backdropExcess, 1.0f));
  const float byHue = greenness * clamp01((offLine - t.hue) * t.perHueRange);
  return byHue > byDifference && byHue >= HueSpeaksFrom;
}

template <typename Row>
void writeUnmixed(const Row& row, std::size_t x, const Colour& p, const float b[3], const Unmixed& u,
                  KeyChannel channel) {
  const float inverse = 1.0f / u.alpha;
  float f[3];
  for (std::size_t c = 0; c < 3; ++c) f[c] = (p[c] - (1.0f - u.alpha) * b[c]) * inverse;
  // Spill as in the key, unless the foreground beside is of the backdrop's kind.
  const float backdropExcess = excessOf({b[0], b[1], b[2]}, channel);
  const float leftExcess = excessOf({f[0], f[1], f[2]}, channel);
  const float spillable = backdropExcess > 1 && u.candidateExcess < backdropExcess * 0.5f ? 1.0f : 0.0f;
  takeOutSpill(f, b, spillable * smaller(larger(leftExcess, 0.0f) / larger(backdropExcess, 1.0f), 1.0f));
  row.write(x, f, u.alpha);
}

// The alpha a pixel the key left solid takes from the colour line, or
// nothing (below 0). A mix has lost key-channel excess in proportion too,
// where the candidate has clearly less than the backdrop: the shading and
// weave within a subject move off its colour, not towards the backdrop's
// excess, so the larger of the two alphas is kept.
// The most alpha a solid rim pixel may be lowered to (below it): SpillAtMost,
// or SpillAtMostOnLowExcess over a backdrop of little excess.
bool lowExcess(const float b[3], KeyChannel channel, Tolerances t) {
  return excessOf({b[0], b[1], b[2]}, channel) < t.backdrop + t.foreground;
}

float spillLimit(const float b[3], KeyChannel channel, Tolerances t) {
  return lowExcess(b, channel, t) ? SpillAtMostOnLowExcess : SpillAtMost;
}

// The limit for a rim pixel `depth` pixels in from the nearest one below
// solid (marks.solidRim), for a line that fits it tightly.
float spillLimitAt(std::uint32_t depth, const float b[3], KeyChannel channel, Tolerances t) {
  const float limit = spillLimit(b, channel, t);
  return depth >= SpillReach ? larger(limit, SpillAtMostInside) : limit;
}

float solidRimAlpha(const Colour& p, const float b[3], const Unmixed& u, KeyChannel channel, Tolerances t,
                    std::uint32_t depth) {
  const float backdropExcess = excessOf({b[0], b[1], b[2]}, channel);
  const float contrast = backdropExcess - u.candidateExcess;
  const float byExcess = contrast > 2 * t.backdrop ? clamp01((backdropExcess - excessOf(p, channel)) / contrast) : 0.0f;
  const float alpha = larger(u.alpha, byExcess);
  if (alpha < spillLimit(b, channel, t)) return alpha;
  const float tight = TightFit * t.hue;
  return alpha < spillLimitAt(depth, b, channel, t) && u.distortion < tight * tight ? alpha : -1.0f;
}

// The pass over the row's pixels, once the marks are taken. LowExcessRow:
// some pixel of the row may lie over a backdrop of little excess, where the
// nearly clear pixels and the wide rim are looked at too; known when
// compiled, so that a row with none loops as tightly as it did before.
template <bool LowExcessRow, typename Row>
void refinePixels(const Row& row, std::uint32_t width, const float* backdrop, KeyChannel channel, Tolerances t,
                  EdgeMarks& marks) {
  const std::uint8_t* sure = marks.surelySolid.data();
  const std::uint8_t* rim = marks.solidRim.data();
  const std::uint8_t* nearSure = marks.nearSure.data();
  NearbyCandidates near;
  std::size_t nearBlock = std::numeric_limits<std::size_t>::max();  // the block `near` was taken for
  // Too close to the backdrop to measure by (squared).
  const float minimum = larger(4 * t.backdrop * t.backdrop, 64.0f);
  Side before, after;  // the candidates to the left and to the right
  for (std::uint32_t x = 0; x < width; ++x) {
    const float level = row.level(x);
    // A nearly clear pixel with no candidate within reach is skipped before
    // anything of it is read (the other tests only skip it too). Solid
    // pixels far from any edge stay solid.
    if (level <= NearlyClear ? !LowExcessRow || !nearSure[x] : solidLevel(level) && !rim[x]) continue;
    // Without a candidate within reach, no side has one (gather): skipped
    // before any other test, each of which only skips it too.
    if (x / Block != nearBlock) nearBlock = x / Block, near = nearbyCandidates(row, width, sure, nearBlock);
    if (!near.any) continue;
    const Colour p = row.colour(x);
    const float b[3] = {backdrop[x], backdrop[width + x], backdrop[2 * std::size_t{width} + x]};
    const float e[3] = {p[0] - b[0], p[1] - b[1], p[2] - b[2]};
    // Nearly clear pixels close to the backdrop in colour stay nearly clear:
    // where the model's backdrop is a little off, a backdrop pixel beside a
    // subject projects onto its line as a faint mix. Farther off, over a
    // backdrop of little excess, the key may have cleared a mix it could not
    // measure (a pale strand over a dim lime wall, whose excess it hardly
    // lowers), which the line measures; over any other the colour
    // difference measures such mixes itself.
    const float clearBeyond = ClearBeyondTolerances * t.backdrop;
    if (level <= NearlyClear && (!lowExcess(b, channel, t) || squaredLength(e) < clearBeyond * clearBeyond)) continue;
    // Beyond SolidRim, the rim is looked at only over a backdrop of little excess.
    if (LowExcessRow && rim[x] > SolidRim && !lowExcess(b, channel, t)) continue;
    const float spillAtMost = spillLimitAt(rim[x], b, channel, t);
    // Most of the rim is settled by the farthest candidates alone: asked
    // first, before the hue and the candidates themselves (the order of
    // these tests changes nothing, each only skips the pixel).
    if (solidLevel(level) && (boundedFarthestStaysSolid(e, farthestAtMost(near, b), t, spillAtMost) ||
                              staysSolid(e, larger(farthestOn(-1, x, width, row, sure, b),
                                                   farthestOn(1, x, width, row, sure, b)), t, spillAtMost))) {
      continue;
    }
    if (keyedByHue(p, b, channel, t)) continue;
    gather(-1, x, width, row, sure, b, before);
    gather(1, x, width, row, sure, b, after);
    const std::int32_t candidates[2] = {candidateOf(before, e, minimum), candidateOf(after, e, minimum)};
    if (candidates[0] < 0 && candidates[1] < 0) continue;
    Unmixed u = unmixAgainst(p.data(), b, row, candidates, channel, t);
    if (u.alpha <= 0) continue;
    if (solidLevel(level)) {
      u.alpha = solidRimAlpha(p, b, u, channel, t, rim[x]);
      if (u.alpha > 0) {
        writeUnmixed(row, x, p, b, u, channel);
        marks.unmixed[x] = 1;
      }
      continue;
    }
    // The line may lower the key's alpha only beside a foreground with far
    // less key channel than none (a saturated red over green, whose mixes
    // the colour difference keys too hard); beside any other it only adds
    // what the difference missed (a faint strand of hair): the shading and
    // weave of a subject, and the backdrop's light spilled on its rim, look
    // like mixes too.
    const float backdropExcess = excessOf({b[0], b[1], b[2]}, channel);
    const bool saturatedBeside = u.candidateExcess < -backdropExcess;
    if (!saturatedBeside && u.alpha * 255 < level) continue;
    writeUnmixed(row, x, p, b, u, channel);
    marks.unmixed[x] = 1;
  }
}

template <typename Row>
void refine(const Row& row, std::uint32_t width, const float* backdrop, KeyChannel channel, Tolerances t,
            bool mayHaveLowExcess, EdgeMarks& marks) {
  // Decided on the key's own alphas, before any is changed: the candidates
  // are solid ones.
  marks.unmixed.assign(width, 0);
  findSolidRuns(row, width, marks.solidRuns);
  markSurelySolid(marks.solidRuns, width, marks.surelySolid);
  markSolidRim(marks.solidRuns, width, mayHaveLowExcess ? WideSolidRim : SolidRim, marks.solidRim);
  // Nearly clear pixels and the wide rim are looked at only over a backdrop
  // of little excess.
  if (mayHaveLowExcess) {
    markNearSure(marks.surelySolid, width, marks.nearSure);
    refinePixels<true>(row, width, backdrop, channel, t, marks);
  } else {
    refinePixels<false>(row, width, backdrop, channel, t, marks);
  }
}

}  // namespace

void refineEdges(const Pixel32* original, Pixel32* out, std::uint32_t width, const float* backdrop, KeyChannel channel,
                 Tolerances t, bool mayHaveLowExcess, EdgeMarks& marks) {
  refine(EightBitRow{original, out}, width, backdrop, channel, t, mayHaveLowExcess, marks);
}

void refineEdges(const PixelF* original, PixelF* out, std::uint32_t width, const float* backdrop, KeyChannel channel,
                 Tolerances t, bool mayHaveLowExcess, EdgeMarks& marks) {
  refine(FloatRow{original, out}, width, backdrop, channel, t, mayHaveLowExcess, marks);
}

}  // namespace Kvl::PlateKey

#pragma once
// The small arithmetic the plate keyer's key and its edge pass share: its
// tolerances as floats and branch-free comparisons. Not for use outside the
// plate keyer.

#include <cstdint>

namespace Kvl::PlateKey {

// A run of pixels of a row keyed solid, [first, end).
struct SolidRun {
  std::uint32_t first, end;
};

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

// How far from the backdrop model's brightness a backdrop pixel may stray
// (fall-off, folds, shadow) when the mix test takes it as lit like the pixel.
inline constexpr float MixDarkest = 0.7f, MixBrightest = 1.15f;

// The least alpha at which some foreground colour (each channel within
// 0..255 levels), laid over the backdrop `b`, gives the pixel `p`: the
// backdrop taken as bright as the pixel within reason (`pb` and `bb` are
// p.b and b.b), `noise` levels allowed for. Colour difference and hue both
// miss a white, grey or black subject on a dim backdrop with little
// excess: its channels lie beyond any mix with it.
[[gnu::always_inline]] inline float leastMixAlpha(const float* p, const float* b, float pb, float bb, float noise) {
  const float scale = smaller(larger(pb / larger(bb, 1.0f), MixDarkest), MixBrightest);
  float least = 0;
  for (int c = 0; c < 3; ++c) {
    const float lit = scale * b[c];
    const float above = (p[c] - lit - noise) / larger(255.0f - lit - noise, 1.0f);
    const float below = (lit - p[c] - noise) / larger(lit - noise, 1.0f);
    least = larger(least, larger(above, below));
  }
  return clamp01(least);
}

}  // namespace Kvl::PlateKey

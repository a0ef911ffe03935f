#pragma once
// The small arithmetic the plate keyer's key and its edge pass share: its
// tolerances as floats and branch-free comparisons. Not for use outside the
// plate keyer.

#include <cstdint>

namespace Kvl::PlateKey {

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

}  // namespace Kvl::PlateKey

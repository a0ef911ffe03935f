#include "HalfRows.h"

#include <cstring>

#include "keying/WideVersions.h"

namespace Kvl {
namespace {

constexpr float HalfSmallestStep = 1.0f / 16777216;  // 2^-24, a subnormal half's unit

// All ones where `condition` holds: the choices below are masks, not
// branches, which the vectoriser takes.
[[gnu::always_inline]] inline std::uint32_t maskWhere(bool condition) { return 0u - static_cast<std::uint32_t>(condition); }

[[gnu::always_inline]] inline float halfToFloat(std::uint16_t half) {
  const std::uint32_t sign = std::uint32_t{half & 0x8000u} << 16;
  const std::uint32_t exponentAndMantissa = half & 0x7fffu;
  const float subnormal = static_cast<float>(exponentAndMantissa) * HalfSmallestStep;  // exact
  std::uint32_t subnormalBits;
  std::memcpy(&subnormalBits, &subnormal, sizeof subnormalBits);
  const std::uint32_t normal = (exponentAndMantissa << 13) + 0x38000000u;  // exponent rebased from 15 to 127
  const std::uint32_t infiniteOrNan = (exponentAndMantissa << 13) | 0x7f800000u;
  const std::uint32_t isSubnormal = maskWhere(exponentAndMantissa < 0x0400u);
  const std::uint32_t isSpecial = maskWhere(exponentAndMantissa >= 0x7c00u);
  const std::uint32_t bits = sign | (subnormalBits & isSubnormal) | (normal & ~isSubnormal & ~isSpecial) |
                             (infiniteOrNan & isSpecial);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

[[gnu::always_inline]] inline std::uint16_t floatToHalf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const std::uint32_t magnitude = bits & 0x7fffffffu;
  const std::uint32_t sign = (bits >> 16) & 0x8000u;
  // A normal half: the exponent rebased, the mantissa rounded to ten bits.
  const std::uint32_t rebased = magnitude - 0x38000000u;
  const std::uint32_t normal = (rebased + 0x0fffu + ((rebased >> 13) & 1u)) >> 13;
  // Below the smallest normal half: adding one half leaves the sum's last
  // mantissa bits counting 2^-24 steps, rounded by the float addition
  // itself to the nearest, ties to even (and tiny values to zero).
  float absolute;
  std::memcpy(&absolute, &magnitude, sizeof absolute);
  const float shifted = absolute + 0.5f;
  std::uint32_t shiftedBits;
  std::memcpy(&shiftedBits, &shifted, sizeof shiftedBits);
  const std::uint32_t subnormal = shiftedBits - 0x3f000000u;
  // A NaN keeps its payload's top bits, and at least one.
  const std::uint32_t payload = (magnitude & 0x7fffffu) >> 13;
  const std::uint32_t nan = 0x7c00u | payload | (maskWhere(payload == 0) & 1u);
  const std::uint32_t isSubnormal = maskWhere(magnitude < 0x38800000u);
  const std::uint32_t isNormal = maskWhere(magnitude <= 0x477fefffu) & ~isSubnormal;
  const std::uint32_t isNan = maskWhere(magnitude > 0x7f800000u);
  const std::uint32_t isInfinite = ~(isSubnormal | isNormal | isNan);  // infinity, or too large for a half
  const std::uint32_t half = (subnormal & isSubnormal) | (normal & isNormal) | (0x7c00u & isInfinite) | (nan & isNan);
  return static_cast<std::uint16_t>(sign | half);
}

}  // namespace

KVL_WIDE_VERSIONS void planesToPixels(HalfPlanes planes, float* pixels, std::size_t width) {
  const std::uint16_t *red = planes.channel[0], *green = planes.channel[1], *blue = planes.channel[2];
  if (const std::uint16_t* alpha = planes.channel[3]) {
    for (std::size_t x = 0; x < width; ++x, pixels += 4) {
      pixels[0] = halfToFloat(red[x]);
      pixels[1] = halfToFloat(green[x]);
      pixels[2] = halfToFloat(blue[x]);
      pixels[3] = halfToFloat(alpha[x]);
    }
    return;
  }
  for (std::size_t x = 0; x < width; ++x, pixels += 4) {
    pixels[0] = halfToFloat(red[x]);
    pixels[1] = halfToFloat(green[x]);
    pixels[2] = halfToFloat(blue[x]);
    pixels[3] = 1.0f;
  }
}

KVL_WIDE_VERSIONS void pixelsToPlanes(const float* pixels, HalfPlanesOut planes, std::size_t width) {
  std::uint16_t *red = planes.channel[0], *green = planes.channel[1], *blue = planes.channel[2];
  if (std::uint16_t* alpha = planes.channel[3]) {
    for (std::size_t x = 0; x < width; ++x, pixels += 4) {
      red[x] = floatToHalf(pixels[0]);
      green[x] = floatToHalf(pixels[1]);
      blue[x] = floatToHalf(pixels[2]);
      alpha[x] = floatToHalf(pixels[3]);
    }
    return;
  }
  for (std::size_t x = 0; x < width; ++x, pixels += 4) {
    red[x] = floatToHalf(pixels[0]);
    green[x] = floatToHalf(pixels[1]);
    blue[x] = floatToHalf(pixels[2]);
  }
}

}  // namespace Kvl

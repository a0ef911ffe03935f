#include "Key.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

namespace Kvl {
// The single-pixel forms are the run functions over one pixel, so the
// product has one key arithmetic; the tests hold a scalar reference.
void keyPixel(Pixel32& pixel, KeyChannel channel) { keyPixels(&pixel, &pixel, 1, channel); }

// The run key caps the key component exactly as spill suppression does and
// changes nothing else but the alpha, so its key component is the answer.
void suppressSpill(Pixel32& pixel, KeyChannel channel) {
  Pixel32 keyed = pixel;
  keyPixels(&pixel, &keyed, 1, channel);
  pixel = (keyed & 0x00FFFFFFu) | (pixel & 0xFF000000u);
}

float levelsGain(std::uint8_t contrast, std::uint8_t offset) {
  const int divisor = std::max(1, 255 - offset - contrast);
  return static_cast<float>(255.0 / divisor);
}

std::uint8_t levelAlpha(std::uint8_t alpha, std::uint8_t contrast, float gain) {
  // Exact in double: the product needs at most 40 significant bits.
  const double value = (static_cast<double>(alpha) - contrast) * static_cast<double>(gain) - contrast;
  if (value <= 0.0) return 0;
  if (value >= 255.0) return 255;
  return static_cast<std::uint8_t>(value);  // truncates toward zero
}

void applyLevels(Pixel32& pixel, std::uint8_t contrast, std::uint8_t offset) {
  levelPixels(&pixel, 1, levelTable(contrast, offset));
}

AlphaTable levelTable(std::uint8_t contrast, std::uint8_t offset) {
  const float gain = levelsGain(contrast, offset);
  AlphaTable table{};
  for (unsigned alpha = 0; alpha < 256; ++alpha) {
    table[alpha] = levelAlpha(static_cast<std::uint8_t>(alpha), contrast, gain);
  }
  return table;
}

}  // namespace Kvl

namespace Kvl {
namespace {

// The run functions below address a pixel's components as bytes in memory:
// blue, green, red, alpha on a little-endian machine.
static_assert(std::endian::native == std::endian::little);
constexpr std::size_t AlphaByte = 3;

// Averages of two bytes computed within a byte, so that the compiler can
// keep sixteen components in one vector register: (a & b) + ((a ^ b) >> 1)
// is the sum halved and rounded down, (a | b) - ((a ^ b) >> 1) rounded up.
inline std::uint8_t halfSumDown(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((a & b) + ((a ^ b) >> 1));
}
inline std::uint8_t halfSumUp(std::uint8_t a, std::uint8_t b) {
  return static_cast<std::uint8_t>((a | b) - ((a ^ b) >> 1));
}

// keyPixel on one pixel's bytes, for one channel whose byte positions are
// known at compile time; branch-free, so the loop around it vectorises.
//  - threshold (low + 3 * high) >> 2 is the half-sum of (the half-sum of
//    low and high) and high, both rounded down: floor(floor(x / 2) / 2) is
//    floor(x / 4);
//  - the excess key - ceil((o1 + o2) / 2) subtracts the rounded-up half;
//  - 255 - excess is ~excess within a byte, added to the alpha modulo 256.
template <std::size_t Key, std::size_t Other1, std::size_t Other2>
inline void keyPixelBytes(const std::uint8_t* in, std::uint8_t* out) {
  const std::uint8_t key = in[Key];
  const std::uint8_t other1 = in[Other1];
  const std::uint8_t other2 = in[Other2];
  const std::uint8_t high = std::max(other1, other2);
  const std::uint8_t threshold = halfSumDown(halfSumDown(std::min(other1, other2), high), high);
  const auto excess = static_cast<std::uint8_t>(key - halfSumUp(other1, other2));
  const auto keyedAlpha = static_cast<std::uint8_t>(in[AlphaByte] + static_cast<std::uint8_t>(~excess));
  const std::uint8_t capped = std::min(key, halfSumDown(other1, other2));
  // Stored in byte order: the compiler then vectorises every channel alike.
  for (std::size_t byte = 0; byte < AlphaByte; ++byte) out[byte] = byte == Key ? capped : in[byte];
  out[AlphaByte] = key > threshold ? keyedAlpha : std::uint8_t{255};
}

// From one array to another: the compiler vectorises this well when the two
// do not overlap (and checks that at run time), keying in place far less so.
template <std::size_t Key, std::size_t Other1, std::size_t Other2>
void keyRun(const Pixel32* in, Pixel32* out, std::size_t count) {
  const auto* from = reinterpret_cast<const std::uint8_t*>(in);
  auto* to = reinterpret_cast<std::uint8_t*>(out);
  for (std::size_t i = 0; i < count; ++i) {
    keyPixelBytes<Key, Other1, Other2>(from + i * sizeof(Pixel32), to + i * sizeof(Pixel32));
  }
}

// Pixels keyed and levelled together, so the levels read what the key
// has just left in the first-level cache.
constexpr std::size_t KeyBlockPixels = 2048;

bool isIdentity(const AlphaTable& levels) {
  for (std::size_t alpha = 0; alpha < levels.size(); ++alpha) {
    if (levels[alpha] != alpha) return false;
  }
  return true;
}

}  // namespace

void keyPixels(const Pixel32* in, Pixel32* out, std::size_t count, KeyChannel channel) {
  // Byte 0 is blue, 1 green, 2 red.
  switch (channel) {
    case RedChannel: keyRun<2, 1, 0>(in, out, count); break;
    case BlueChannel: keyRun<0, 2, 1>(in, out, count); break;
    default: keyRun<1, 2, 0>(in, out, count); break;  // green
  }
}

void levelPixels(Pixel32* pixels, std::size_t count, const AlphaTable& levels) {
  // Only the alpha bytes change: a byte load, a table load and a byte store
  // per pixel, where the whole word would take twice the instructions.
  auto* bytes = reinterpret_cast<std::uint8_t*>(pixels);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t& alpha = bytes[i * sizeof(Pixel32) + AlphaByte];
    alpha = levels[alpha];
  }
}

void keyAndLevel(const Pixel32* in, Pixel32* out, std::size_t count, KeyChannel channel,
                 const AlphaTable& levels) {
  const bool levelsChangeAlpha = !isIdentity(levels);  // Contrast 0 and Offset 0 change nothing
  for (std::size_t start = 0; start < count; start += KeyBlockPixels) {
    const std::size_t n = std::min(KeyBlockPixels, count - start);
    keyPixels(in + start, out + start, n, channel);
    if (levelsChangeAlpha) levelPixels(out + start, n, levels);
  }
}

void keyAndLevel(Pixel32* pixels, std::size_t count, KeyChannel channel, const AlphaTable& levels) {
  std::array<Pixel32, KeyBlockPixels> unkeyed;
  for (std::size_t start = 0; start < count; start += KeyBlockPixels) {
    const std::size_t n = std::min(KeyBlockPixels, count - start);
    std::copy_n(pixels + start, n, unkeyed.data());
    keyAndLevel(unkeyed.data(), pixels + start, n, channel, levels);
  }
}

}  // namespace Kvl

namespace Kvl {
namespace {

// x / 255 for x up to 255 * 255, exactly, in 16 bits: (x + 1 + x / 256) / 256
// never rounds a remainder up in that range (the tests check every x).
inline std::uint16_t divideBy255(std::uint16_t x) {
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(x + 1u + (x >> 8)) >> 8);
}

inline std::uint16_t loadHalf(const std::uint8_t* bytes) {
  std::uint16_t half;
  std::memcpy(&half, bytes, sizeof half);
  return half;
}

inline void storeHalf(std::uint8_t* bytes, std::uint16_t half) { std::memcpy(bytes, &half, sizeof half); }

}  // namespace

// Each pixel is handled as two 16-bit halves, green-blue and alpha-red:
// every sum fits 16 bits (at most 255 * 255), so the compiler can blend
// eight components per instruction.
void blendOverCheckerboard(Pixel32* composite, Pixel32* matte, const std::uint8_t* checkerboard,
                           std::size_t count) {
  auto* colour = reinterpret_cast<std::uint8_t*>(composite);
  auto* grey = reinterpret_cast<std::uint8_t*>(matte);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* pixel = colour + i * sizeof(Pixel32);
    const std::uint16_t greenBlue = loadHalf(pixel);
    const std::uint16_t alphaRed = loadHalf(pixel + 2);
    const auto alpha = static_cast<std::uint16_t>(alphaRed >> 8);
    const auto behind = static_cast<std::uint16_t>(checkerboard[i] * (255u - alpha));
    const auto blend = [alpha, behind](unsigned component) {
      return divideBy255(static_cast<std::uint16_t>(component * alpha + behind));
    };
    storeHalf(pixel, static_cast<std::uint16_t>(blend(greenBlue >> 8) << 8 | blend(greenBlue & 0xFFu)));
    storeHalf(pixel + 2, static_cast<std::uint16_t>(alpha << 8 | blend(alphaRed & 0xFFu)));
    storeHalf(grey + i * sizeof(Pixel32), static_cast<std::uint16_t>(alpha << 8 | alpha));
    storeHalf(grey + i * sizeof(Pixel32) + 2, alpha);  // alpha byte 0
  }
}

}  // namespace Kvl

#include "Key.h"

#include <algorithm>

namespace Kvl {
namespace {

// Bit position of each channel's component inside a Pixel32, and of the two
// other components. The formulas are symmetric in the other two.
struct ChannelLayout {
  int keyShift;
  int otherShift1;
  int otherShift2;
};

constexpr ChannelLayout layoutOf(KeyChannel channel) {
  switch (channel) {
    case RedChannel: return {16, 8, 0};
    case BlueChannel: return {0, 16, 8};
    default: return {8, 16, 0};  // green
  }
}

constexpr unsigned componentAt(Pixel32 pixel, int shift) { return (pixel >> shift) & 0xFFu; }

}  // namespace

void keyPixel(Pixel32& pixel, KeyChannel channel) {
  const ChannelLayout layout = layoutOf(channel);
  const unsigned key = componentAt(pixel, layout.keyShift);
  const unsigned other1 = componentAt(pixel, layout.otherShift1);
  const unsigned other2 = componentAt(pixel, layout.otherShift2);
  const unsigned low = std::min(other1, other2);
  const unsigned high = std::max(other1, other2);
  // A mean of the other two, weighted three to one towards the larger.
  const unsigned threshold = (low + 3 * high) >> 2;
  if (key > threshold) {
    // key - (o1 + o2) / 2 truncated: the half rounds the subtrahend up.
    const unsigned excess = key - (other1 + other2 + 1) / 2;
    const Pixel32 alpha = (alphaOf(pixel) + 255u - excess) & 0xFFu;
    pixel = (pixel & 0x00FFFFFFu) | alpha << 24;
  } else {
    pixel |= 0xFF000000u;
  }
  suppressSpill(pixel, channel);
}

void suppressSpill(Pixel32& pixel, KeyChannel channel) {
  const ChannelLayout layout = layoutOf(channel);
  const unsigned key = componentAt(pixel, layout.keyShift);
  const unsigned mean =
      (componentAt(pixel, layout.otherShift1) + componentAt(pixel, layout.otherShift2)) >> 1;
  if (key > mean) {
    pixel = (pixel & ~(Pixel32{0xFF} << layout.keyShift)) | Pixel32{mean} << layout.keyShift;
  }
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
  const std::uint8_t levelled = levelAlpha(alphaOf(pixel), contrast, levelsGain(contrast, offset));
  pixel = (pixel & 0x00FFFFFFu) | Pixel32{levelled} << 24;
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

void keyAndLevel(Pixel32* pixels, std::size_t count, KeyChannel channel, const AlphaTable& levels) {
  for (std::size_t i = 0; i < count; ++i) {
    Pixel32 pixel = pixels[i];
    keyPixel(pixel, channel);
    pixels[i] = (pixel & 0x00FFFFFFu) | Pixel32{levels[alphaOf(pixel)]} << 24;
  }
}

}  // namespace Kvl

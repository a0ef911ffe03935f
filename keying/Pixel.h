#pragma once
// The shared pixel types: one pixel as a 32-bit word, and the key channel.

#include <cstdint>

namespace Kvl {

// Blue in bits 0-7, green 8-15, red 16-23, alpha 24-31. On a little-endian
// machine the bytes in memory are blue, green, red, alpha: the byte order of
// a 32-bit Targa pixel and of a 32-bit device-independent bitmap alike.
using Pixel32 = std::uint32_t;

// The order of the radio buttons; the value every keying operation takes.
using KeyChannel = std::int32_t;
inline constexpr KeyChannel RedChannel = 0;
inline constexpr KeyChannel GreenChannel = 1;
inline constexpr KeyChannel BlueChannel = 2;

inline constexpr int PreviewWidth = 240;
inline constexpr int PreviewHeight = 160;
inline constexpr int PreviewPixelCount = PreviewWidth * PreviewHeight;

constexpr std::uint8_t blueOf(Pixel32 p) { return static_cast<std::uint8_t>(p); }
constexpr std::uint8_t greenOf(Pixel32 p) { return static_cast<std::uint8_t>(p >> 8); }
constexpr std::uint8_t redOf(Pixel32 p) { return static_cast<std::uint8_t>(p >> 16); }
constexpr std::uint8_t alphaOf(Pixel32 p) { return static_cast<std::uint8_t>(p >> 24); }

constexpr Pixel32 makePixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                            std::uint8_t alpha = 0) {
  return Pixel32{blue} | Pixel32{green} << 8 | Pixel32{red} << 16 | Pixel32{alpha} << 24;
}

}  // namespace Kvl

#pragma once
// The Targa header as this program reads and writes it, and the reasons a
// file can be refused.

#include <cstddef>
#include <cstdint>

#include "PictureError.h"

namespace Kvl {

inline constexpr std::size_t TgaHeaderSize = 18;
// The depth byte sits at offset 16: a file shorter than 17 bytes cannot
// say what it holds.
inline constexpr std::size_t TgaMinimumHeaderBytes = 17;

inline constexpr std::uint8_t TgaTypeTrueColour = 2;
inline constexpr std::uint8_t TgaTypeTrueColourRle = 10;

inline constexpr std::uint8_t TgaColourMapPresent = 1;
inline constexpr std::uint8_t TgaDescriptorRightToLeft = 0x10;  // 00010000: bit 4
inline constexpr std::uint8_t TgaDescriptorTopToBottom = 0x20;  // 00100000: bit 5
inline constexpr std::uint8_t TgaRlePacketFlag = 0x80;          // 1xxxxxxx: run-length packet
inline constexpr std::uint8_t TgaPacketCountMask = 0x7F;        // x1111111: count - 1

struct TgaHeader {
  std::uint8_t idLength = 0;
  std::uint8_t colourMapType = 0;
  std::uint8_t imageType = 0;
  std::uint16_t colourMapLength = 0;
  std::uint8_t colourMapEntryBits = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint8_t bitsPerPixel = 0;
  std::uint8_t descriptor = 0;

  bool topToBottom() const { return (descriptor & TgaDescriptorTopToBottom) != 0; }
  bool rightToLeft() const { return (descriptor & TgaDescriptorRightToLeft) != 0; }
  bool runLengthEncoded() const { return imageType == TgaTypeTrueColourRle; }
  std::size_t bytesPerPixel() const { return bitsPerPixel / 8u; }
  // Bytes of colour map between the image ID and the pixels, whole bytes per entry.
  std::size_t colourMapBytes() const;
  std::uint64_t pixelCount() const { return std::uint64_t{width} * height; }
};

// Reads the fields from the first TgaHeaderSize bytes of a file (bytes
// beyond `available` count as 0).
TgaHeader parseTgaHeader(const std::uint8_t* bytes, std::size_t available);

// The error of a refused Targa file, with the header fields its message names.
PictureError targaError(LoadError error, const TgaHeader& header);

// Checks the type and depth in the order the reader tests them.
LoadError checkTgaHeader(const TgaHeader& header);

// Little-endian field helpers for building and reading headers.
inline std::uint16_t readLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}
inline void writeLe16(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace Kvl

#include "TgaFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Kvl {

std::size_t TgaHeader::colourMapBytes() const {
  if (colourMapType != TgaColourMapPresent) return 0;
  return std::size_t{colourMapLength} * ((colourMapEntryBits + 7u) / 8u);
}

TgaHeader parseTgaHeader(const std::uint8_t* bytes, std::size_t available) {
  std::array<std::uint8_t, TgaHeaderSize> field{};
  std::memcpy(field.data(), bytes, std::min(available, TgaHeaderSize));
  TgaHeader header;
  header.idLength = field[0];
  header.colourMapType = field[1];
  header.imageType = field[2];
  header.colourMapLength = readLe16(&field[5]);
  header.colourMapEntryBits = field[7];
  header.width = readLe16(&field[12]);
  header.height = readLe16(&field[14]);
  header.bitsPerPixel = field[16];
  header.descriptor = field[17];
  return header;
}

LoadError checkTgaHeader(const TgaHeader& header) {
  if (header.imageType != TgaTypeTrueColour && header.imageType != TgaTypeTrueColourRle) {
    return LoadError::TypeRefused;
  }
  if (header.bitsPerPixel != 24 && header.bitsPerPixel != 32) return LoadError::DepthRefused;
  return LoadError::None;
}

PictureError targaError(LoadError error, const TgaHeader& header) {
  PictureError result;
  result.reason = error;
  result.format = PictureFormat::Targa;
  result.width = header.width;
  result.height = header.height;
  result.imageType = header.imageType;
  result.bitsPerPixel = header.bitsPerPixel;
  return result;
}

}  // namespace Kvl

#pragma once
// Builds Targa files as bytes, so each test reads like the case it checks:
//   TgaBytes(3, 2).pixels24({...}).bytes()
//   TgaBytes(4, 1).rle().runPacket(3, px).rawPacket({px}).bytes()

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "keying/Pixel.h"

namespace Kvl::Test {

class TgaBytes {
public:
  TgaBytes(std::uint16_t width, std::uint16_t height, std::uint8_t bitsPerPixel = 24)
      : width_(width), height_(height), bitsPerPixel_(bitsPerPixel) {}

  TgaBytes& type(std::uint8_t imageType) { imageType_ = imageType; return *this; }
  TgaBytes& rle() { return type(10); }
  TgaBytes& descriptor(std::uint8_t value) { descriptor_ = value; return *this; }
  TgaBytes& id(std::vector<std::uint8_t> bytes) { id_ = std::move(bytes); return *this; }
  // A colour map of `length` entries of `entryBits` bits, filled with 0xEE.
  TgaBytes& colourMap(std::uint16_t length, std::uint8_t entryBits) {
    colourMapType_ = 1;
    mapLength_ = length;
    mapEntryBits_ = entryBits;
    return *this;
  }

  // Appends pixels in file order; each is written with this file's depth,
  // a 32-bit file carrying `fileAlpha` as its own alpha.
  TgaBytes& pixels(std::initializer_list<Pixel32> values, std::uint8_t fileAlpha = 0x80) {
    for (Pixel32 value : values) appendPixel(value, fileAlpha);
    return *this;
  }
  TgaBytes& pixels(const std::vector<Pixel32>& values, std::uint8_t fileAlpha = 0x80) {
    for (Pixel32 value : values) appendPixel(value, fileAlpha);
    return *this;
  }
  TgaBytes& runPacket(unsigned count, Pixel32 value) {
    data_.push_back(static_cast<std::uint8_t>(0x80 | (count - 1)));
    appendPixel(value, 0x80);
    return *this;
  }
  TgaBytes& rawPacket(std::initializer_list<Pixel32> values) {
    data_.push_back(static_cast<std::uint8_t>(values.size() - 1));
    return pixels(values);
  }
  TgaBytes& raw(std::initializer_list<std::uint8_t> bytes) {
    data_.insert(data_.end(), bytes);
    return *this;
  }

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out(18, 0);
    out[0] = static_cast<std::uint8_t>(id_.size());
    out[1] = colourMapType_;
    out[2] = imageType_;
    out[5] = static_cast<std::uint8_t>(mapLength_);
    out[6] = static_cast<std::uint8_t>(mapLength_ >> 8);
    out[7] = mapEntryBits_;
    out[12] = static_cast<std::uint8_t>(width_);
    out[13] = static_cast<std::uint8_t>(width_ >> 8);
    out[14] = static_cast<std::uint8_t>(height_);
    out[15] = static_cast<std::uint8_t>(height_ >> 8);
    out[16] = bitsPerPixel_;
    out[17] = descriptor_;
    out.insert(out.end(), id_.begin(), id_.end());
    if (colourMapType_ == 1) out.insert(out.end(), std::size_t{mapLength_} * ((mapEntryBits_ + 7u) / 8u), 0xEE);
    out.insert(out.end(), data_.begin(), data_.end());
    return out;
  }

  // Writes the bytes to `path` and returns the path.
  std::string writeTo(const std::filesystem::path& path) const {
    const auto data = bytes();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
    return path.string();
  }

private:
  void appendPixel(Pixel32 value, std::uint8_t fileAlpha) {
    data_.push_back(blueOf(value));
    data_.push_back(greenOf(value));
    data_.push_back(redOf(value));
    if (bitsPerPixel_ == 32) data_.push_back(fileAlpha);
  }

  std::uint16_t width_;
  std::uint16_t height_;
  std::uint8_t bitsPerPixel_;
  std::uint8_t imageType_ = 2;
  std::uint8_t descriptor_ = 0;
  std::uint8_t colourMapType_ = 0;
  std::uint16_t mapLength_ = 0;
  std::uint8_t mapEntryBits_ = 0;
  std::vector<std::uint8_t> id_;
  std::vector<std::uint8_t> data_;
};

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);

// A fresh, empty folder under the system's temporary folder, removed again
// when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

}  // namespace Kvl::Test

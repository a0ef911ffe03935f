#pragma once
// Turning a deep picture's samples into floats and back, the same way for
// every format: an integer sample as sample / largest, a float as it is.
// Back, an integer sample is the nearest one, so a value read from a file
// is written back unchanged.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "ReplacingFile.h"

namespace Kvl {

// Divided, not multiplied by the reciprocal: the nearest float to the
// fraction, whichever program computes it.
inline float fromUint16(std::uint16_t sample) { return static_cast<float>(sample) / 65535.0f; }
inline float fromUint8(std::uint8_t sample) { return static_cast<float>(sample) / 255.0f; }

// Not-a-number gives 0; the rest is clamped to the range first.
inline std::uint16_t toUint16(float value) {
  if (!(value > 0)) return 0;
  return static_cast<std::uint16_t>(std::lround(std::min(value, 1.0f) * 65535));
}
inline std::uint8_t toUint8(float value) {
  if (!(value > 0)) return 0;
  return static_cast<std::uint8_t>(std::lround(std::min(value, 1.0f) * 255));
}

// The largest side and the most pixels a deep picture may declare: 32K
// frames each way, and a picture's four float planes addressable on the
// 32-bit build.
inline constexpr std::uint64_t MaximumDeepSide = 32768;
inline constexpr std::uint64_t MaximumDeepPixels = std::uint64_t{1} << 28;

inline bool deepSizeAllowed(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= MaximumDeepSide && height <= MaximumDeepSide &&
         width * height <= MaximumDeepPixels;
}

inline std::string deepSizeRefusal(std::uint64_t width, std::uint64_t height) {
  return "a " + std::to_string(width) + " x " + std::to_string(height) +
         " picture is empty or larger than 32768 pixels a side or 268 megapixels";
}

// A ReplacingFile that knows where it stands and how long it is, for the
// libraries that seek and tell as they write.
class TrackedOutput {
public:
  explicit TrackedOutput(const std::string& path) : file_(path) {}
  bool open() { return file_.open(); }
  void write(const void* bytes, std::uint64_t count) {
    file_.write(bytes, static_cast<std::size_t>(count));
    position_ += count;
    size_ = std::max(size_, position_);
  }
  void seek(std::uint64_t offset) {
    if (offset != position_) file_.seek(offset);
    position_ = offset;
  }
  std::uint64_t position() const { return position_; }
  std::uint64_t size() const { return size_; }
  bool commit() { return file_.commit(); }

private:
  ReplacingFile file_;
  std::uint64_t position_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace Kvl

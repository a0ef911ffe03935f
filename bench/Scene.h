#pragma once
// A synthetic green-screen picture for the benchmarks and the bench
// inputs: a backdrop that changes colour in steps (runs for the run-length
// encoder), a noisy subject in the middle (raw packets) and a soft edge
// between them (partly transparent alphas for auto adjust). Deterministic,
// so every run measures the same pixels.

#include <cstdint>

namespace Kvl::Bench {

struct SceneColour {
  std::uint8_t red, green, blue;
};

inline std::uint32_t sceneNoise(std::uint32_t x, std::uint32_t y) {
  std::uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

inline std::uint8_t clampByte(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// The colour at (x, y) of a width x height scene.
inline SceneColour scenePixel(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) {
  // Distance from the centre in units of the subject's half-axes, squared x 256.
  const auto dx = (static_cast<std::int64_t>(x) * 2 - width) * 256 / (width / 2 + 1);
  const auto dy = (static_cast<std::int64_t>(y) * 2 - height) * 256 / (height / 2 + 1);
  const auto distance = (dx * dx + dy * dy) / 256;  // 256 on the subject's outline
  const std::uint32_t noise = sceneNoise(x, y);
  if (distance < 200) {  // the subject: warm colours, plenty of noise
    return {clampByte(150 + static_cast<int>(noise & 63)), clampByte(90 + static_cast<int>(noise >> 6 & 63)),
            clampByte(60 + static_cast<int>(noise >> 12 & 63))};
  }
  const int step = static_cast<int>((x / 48 + y / 32) % 8);  // flat steps: long runs
  if (distance < 320) {  // the edge: green mixed into the subject
    const int mix = static_cast<int>(distance - 200);  // 0..119
    return {clampByte(150 - mix), clampByte(110 + mix), clampByte(70 - mix / 4 + static_cast<int>(noise & 7))};
  }
  return {clampByte(40 + step), clampByte(190 + step * 3), clampByte(60 + step)};
}

}  // namespace Kvl::Bench

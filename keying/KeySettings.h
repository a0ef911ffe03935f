#pragma once
// The three settings every key takes, and how they are chosen from the
// 240 x 160 preview: the window does it on Open and Auto adjust, the
// command line for every picture. One pure function for both, so the two
// programs always agree on what a picture gets.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Pixel.h"

namespace Kvl {

struct KeySettings {
  KeyChannel channel = GreenChannel;
  std::uint8_t contrast = 0;
  std::uint8_t offset = 0;

  bool operator==(const KeySettings&) const = default;
};

// What to choose and what is given: an empty channel is detected, and
// `autoAdjust` chooses Contrast and Offset (the two given are then unused).
struct SettingsRequest {
  std::optional<KeyChannel> channel = GreenChannel;
  std::uint8_t contrast = 0;
  std::uint8_t offset = 0;
  bool autoAdjust = false;

  // Everything chosen, as Open does.
  static SettingsRequest automatic() { return {std::nullopt, 0, 0, true}; }
};

// The settings for `previewSource` (PreviewPixelCount pixels): the given
// ones where the request has them, the chosen ones elsewhere.
KeySettings chooseSettings(const Pixel32* previewSource, const SettingsRequest& request);

// The channel with the largest total over the preview; ties go to green,
// then blue.
KeyChannel dominantChannel(const Pixel32* previewSource);

// The Contrast auto adjust picks for the preview keyed with `channel` at
// Contrast 0 / Offset 0: from the partly transparent key alphas, about 30%
// of the way up. Nothing when no alpha is partly transparent. The Offset
// is always half the Contrast (autoOffsetFor).
std::optional<std::uint8_t> autoContrast(const Pixel32* previewSource, KeyChannel channel);
constexpr std::uint8_t autoOffsetFor(std::uint8_t contrast) { return static_cast<std::uint8_t>(contrast >> 1); }

// The rank auto adjust takes from n sorted samples: n / 2 - n / 5.
std::size_t autoAdjustIndex(std::size_t sampleCount);

}  // namespace Kvl

#include "KeySettings.h"

#include <algorithm>
#include <array>
#include <vector>

#include "Key.h"

namespace Kvl {
namespace {

// Alphas below and above these are nearly clear or nearly solid.
constexpr std::uint8_t LowestSample = 11;
constexpr std::uint8_t HighestSample = 244;

// Rows keyed together: small enough for the stack and the first-level cache.
constexpr int SampleBlockPixels = 10 * PreviewWidth;
static_assert(PreviewPixelCount % SampleBlockPixels == 0);

// The alphas a render at Contrast 0 / Offset 0 leaves on the composite: the
// key, then the levels at 0 / 0 (which leave every alpha as the key made it).
std::vector<std::uint8_t> partlyTransparentAlphas(const Pixel32* previewSource, KeyChannel channel) {
  const AlphaTable neutral = levelTable(0, 0);
  std::vector<std::uint8_t> samples;
  samples.reserve(PreviewPixelCount);  // once: appends never reallocate
  std::array<Pixel32, SampleBlockPixels> block;
  for (int start = 0; start < PreviewPixelCount; start += SampleBlockPixels) {
    keyAndLevel(previewSource + start, block.data(), block.size(), channel, neutral);
    for (const Pixel32 pixel : block) {
      const std::uint8_t alpha = alphaOf(pixel);
      if (alpha >= LowestSample && alpha <= HighestSample) samples.push_back(alpha);
    }
  }
  return samples;
}

}  // namespace

std::size_t autoAdjustIndex(std::size_t sampleCount) {
  // n * 0.5 and n * 0.2f truncated; for every n up to the preview's size
  // these equal the integer quotients.
  return sampleCount / 2 - sampleCount / 5;
}

std::optional<std::uint8_t> autoContrast(const Pixel32* previewSource, KeyChannel channel) {
  std::vector<std::uint8_t> samples = partlyTransparentAlphas(previewSource, channel);
  if (samples.empty()) return std::nullopt;
  const auto rank = static_cast<std::ptrdiff_t>(autoAdjustIndex(samples.size()));
  std::nth_element(samples.begin(), samples.begin() + rank, samples.end());
  return samples[static_cast<std::size_t>(rank)];
}

KeyChannel dominantChannel(const Pixel32* previewSource) {
  std::uint32_t red = 0, green = 0, blue = 0;
  for (int i = 0; i < PreviewPixelCount; ++i) {
    red += redOf(previewSource[i]);
    green += greenOf(previewSource[i]);
    blue += blueOf(previewSource[i]);
  }
  if (green >= red && green >= blue) return GreenChannel;
  if (blue >= red && blue >= green) return BlueChannel;
  return RedChannel;
}

KeySettings chooseSettings(const Pixel32* previewSource, const SettingsRequest& request) {
  KeySettings settings;
  settings.channel = request.channel ? *request.channel : dominantChannel(previewSource);
  if (!request.autoAdjust) {
    settings.contrast = request.contrast;
    settings.offset = request.offset;
  } else if (const auto contrast = autoContrast(previewSource, settings.channel)) {
    settings.contrast = *contrast;
    settings.offset = autoOffsetFor(*contrast);
  }
  return settings;
}

}  // namespace Kvl

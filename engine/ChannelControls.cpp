#include "ChannelControls.h"

#include <algorithm>
#include <vector>

#include "KeyProcessor.h"

namespace Kvl {
namespace {

// Alphas below and above these are nearly clear or nearly solid.
constexpr std::uint8_t LowestSample = 11;
constexpr std::uint8_t HighestSample = 244;

std::vector<std::uint8_t> partlyTransparentAlphas(const Pixel32* composite) {
  std::vector<std::uint8_t> samples;
  samples.reserve(PreviewPixelCount);  // once: appends never reallocate
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const std::uint8_t alpha = alphaOf(composite[i]);
    if (alpha >= LowestSample && alpha <= HighestSample) samples.push_back(alpha);
  }
  return samples;
}

}  // namespace

void selectChannel(KeyChannel channel, ShellSettings& settings, ShellPort& shell,
                   KeyProcessor* processor) {
  for (KeyChannel button : {RedChannel, GreenChannel, BlueChannel}) {
    shell.setChannelChecked(button, button == channel);
  }
  settings.CurrentChannel = channel;
  if (processor != nullptr) processor->render(channel, settings.Contrast, settings.Offset);
}

std::size_t autoAdjustIndex(std::size_t sampleCount) {
  // n * 0.5 and n * 0.2f truncated; for every n up to the preview's size
  // these equal the integer quotients.
  return sampleCount / 2 - sampleCount / 5;
}

void autoAdjust(ShellSettings& settings, ShellPort& shell, KeyProcessor* processor) {
  shell.setSliderPosition(Slider::Offset, 0, false);
  shell.setSliderPosition(Slider::Contrast, 0, false);
  settings.Offset = 0;
  settings.Contrast = 0;
  if (processor == nullptr) return;
  // At 0 / 0 the levels leave every alpha as the key made it.
  processor->render(settings.CurrentChannel, 0, 0);

  std::vector<std::uint8_t> samples = partlyTransparentAlphas(processor->composite());
  if (samples.empty()) return;
  const auto rank = static_cast<std::ptrdiff_t>(autoAdjustIndex(samples.size()));
  std::nth_element(samples.begin(), samples.begin() + rank, samples.end());
  const std::uint8_t chosen = samples[static_cast<std::size_t>(rank)];

  settings.Contrast = chosen;
  settings.Offset = static_cast<std::uint8_t>(chosen >> 1);
  shell.setSliderPosition(Slider::Offset, settings.Offset, true);
  shell.setSliderPosition(Slider::Contrast, settings.Contrast, true);
}

}  // namespace Kvl

namespace Kvl {

void openPicture(const char* path, ShellSettings& settings, ShellPort& shell, KeyProcessor& processor) {
  processor.loadSource(path);
  selectChannel(processor.dominantChannel(), settings, shell, &processor);
  autoAdjust(settings, shell, &processor);
}

}  // namespace Kvl

#include "ChannelControls.h"

#include "KeyProcessor.h"

namespace Kvl {
namespace {

void moveSlidersToZero(KeySettings& settings, ShellPort& shell) {
  shell.setSliderPosition(Slider::Offset, 0, false);
  shell.setSliderPosition(Slider::Contrast, 0, false);
  settings.offset = 0;
  settings.contrast = 0;
}

// The sliders go to 0 quietly and the previews show that neutral render;
// only a real choice moves them again, with a redraw. Contrast stays 0
// only when no alpha was partly transparent: every pick is 11 or more.
void showAutoAdjusted(const KeySettings& chosen, KeySettings& settings, ShellPort& shell,
                      KeyProcessor& processor) {
  moveSlidersToZero(settings, shell);
  processor.render(settings.channel, 0, 0);
  if (chosen.contrast == 0) return;
  settings.contrast = chosen.contrast;
  settings.offset = chosen.offset;
  shell.setSliderPosition(Slider::Offset, settings.offset, true);
  shell.setSliderPosition(Slider::Contrast, settings.contrast, true);
}

KeySettings autoAdjusted(const KeyProcessor& processor, std::optional<KeyChannel> channel) {
  SettingsRequest request = SettingsRequest::automatic();
  request.channel = channel;
  return chooseSettings(processor.previewSource(), request);
}

}  // namespace

void selectChannel(KeyChannel channel, KeySettings& settings, ShellPort& shell, KeyProcessor* processor) {
  for (KeyChannel button : {RedChannel, GreenChannel, BlueChannel}) {
    shell.setChannelChecked(button, button == channel);
  }
  settings.channel = channel;
  if (processor != nullptr) processor->render(channel, settings.contrast, settings.offset);
}

void autoAdjust(KeySettings& settings, ShellPort& shell, KeyProcessor* processor) {
  if (processor == nullptr) {
    moveSlidersToZero(settings, shell);  // nothing to look at yet
    return;
  }
  showAutoAdjusted(autoAdjusted(*processor, settings.channel), settings, shell, *processor);
}

void openPicture(const char* path, KeySettings& settings, ShellPort& shell, KeyProcessor& processor) {
  processor.loadSource(path);
  const KeySettings chosen = autoAdjusted(processor, std::nullopt);
  selectChannel(chosen.channel, settings, shell, &processor);
  showAutoAdjusted(chosen, settings, shell, processor);
}

}  // namespace Kvl

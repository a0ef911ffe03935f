#include "Win32ShellPort.h"

#include "Controls.h"
#include "ShellState.h"

namespace Kvl::App {
namespace {

HWND radioButtonOf(KeyChannel channel) {
  const ShellWindows& windows = shell().windows;
  switch (channel) {
    case RedChannel: return windows.RedButton;
    case GreenChannel: return windows.GreenButton;
    case BlueChannel: return windows.BlueButton;
    default: return nullptr;  // no such button: the message goes nowhere
  }
}

}  // namespace

void Win32ShellPort::setChannelChecked(KeyChannel channel, bool checked) {
  setChecked(radioButtonOf(channel), checked);
}

void Win32ShellPort::setSliderPosition(Slider slider, std::uint8_t position, bool redraw) {
  const ShellWindows& windows = shell().windows;
  HWND target = slider == Slider::Contrast ? windows.ContrastSlider : windows.OffsetSlider;
  App::setSliderPosition(target, position, redraw);
}

// No owner and task-modal: the box disables every top-level window of the
// thread while it is up, so no command can run underneath it.
void Win32ShellPort::showError(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace Kvl::App

#pragma once
// The engine's seam on real controls: BM_SETCHECK on the radio buttons,
// TBM_SETPOS on the sliders, and the task-modal error box.

#include "engine/ShellPort.h"

namespace Kvl::App {

class Win32ShellPort final : public ShellPort {
public:
  void setChannelChecked(KeyChannel channel, bool checked) override;
  void setSliderPosition(Slider slider, std::uint8_t position, bool redraw) override;
  void showError(const char* text, const char* caption) override;
};

}  // namespace Kvl::App

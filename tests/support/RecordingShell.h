#pragma once
// A shell that records every call the engine makes of it, in order.

#include <string>
#include <vector>

#include "engine/ShellPort.h"

namespace Kvl::Test {

class RecordingShell final : public ShellPort {
public:
  void setChannelChecked(KeyChannel channel, bool checked) override {
    calls.push_back("check " + std::to_string(channel) + " " + (checked ? "1" : "0"));
  }
  void setSliderPosition(Slider slider, std::uint8_t position, bool redraw) override {
    calls.push_back(std::string(slider == Slider::Contrast ? "contrast " : "offset ") +
                    std::to_string(position) + (redraw ? " redraw" : " quiet"));
  }
  void showError(const char* text, const char* caption) override {
    calls.push_back(std::string("error ") + text + " / " + caption);
  }

  std::vector<std::string> calls;
};

}  // namespace Kvl::Test

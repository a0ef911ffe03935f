#pragma once
// What the engine needs of the window it serves, and nothing more: set a
// radio button, move a slider, show the save-failure box. The Windows shell
// sends the real control messages; tests record the calls.

#include <cstdint>

#include "keying/Pixel.h"

namespace Kvl {

enum class Slider { Contrast, Offset };

class ShellPort {
public:
  // Sets the check state of the radio button of `channel`.
  virtual void setChannelChecked(KeyChannel channel, bool checked) = 0;
  // Moves a slider; `redraw` asks it to repaint now. Produces no slider message.
  virtual void setSliderPosition(Slider slider, std::uint8_t position, bool redraw) = 0;
  // A task-modal error box with no owner window; returns once it is closed.
  virtual void showError(const char* text, const char* caption) = 0;

protected:
  ~ShellPort() = default;
};

inline constexpr const char* SaveFailedText = "Unable to save file.";
inline constexpr const char* SaveFailedCaption = "Saving Failed";

}  // namespace Kvl

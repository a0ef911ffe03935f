#pragma once
// Small wrappers for reading and setting the controls, so the handlers read
// as what they do rather than as control messages.

#include <windows.h>

#include <cstdint>

namespace Kvl::App {

bool isChecked(HWND radioButton);
void setChecked(HWND radioButton, bool checked);
// The slider's position, kept to its low 8 bits (the range is 0..255).
std::uint8_t sliderPosition(HWND slider);
// Produces no scroll message to the parent.
void setSliderPosition(HWND slider, std::uint8_t position, bool redraw);
void setSliderRange(HWND slider, std::uint8_t lowest, std::uint8_t highest);

}  // namespace Kvl::App

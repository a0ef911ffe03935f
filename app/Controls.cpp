#include "Controls.h"

#include <commctrl.h>

namespace Kvl::App {

bool isChecked(HWND radioButton) {
  return SendMessageA(radioButton, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setChecked(HWND radioButton, bool checked) {
  SendMessageA(radioButton, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::uint8_t sliderPosition(HWND slider) {
  const LRESULT position = SendMessageA(slider, TBM_GETPOS, 0, 0);
  return static_cast<std::uint8_t>(position & 0xFF);
}

// per https://learn.microsoft.com/windows/win32/controls/tbm-setpos
void setSliderPosition(HWND slider, std::uint8_t position, bool redraw) {
  SendMessageA(slider, TBM_SETPOS, redraw ? TRUE : FALSE, position);
}

void setSliderRange(HWND slider, std::uint8_t lowest, std::uint8_t highest) {
  SendMessageA(slider, TBM_SETRANGE, TRUE, MAKELPARAM(lowest, highest));
}

}  // namespace Kvl::App

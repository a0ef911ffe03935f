#pragma once
// The shell's window handles and preview surfaces, as plain records.

#include <windows.h>

#include <array>
#include <cstddef>

#include "keying/Pixel.h"

namespace Kvl::App {

// A 240 x 160 bottom-up 32-bit DIB section, selected into its own memory
// context for its whole life so painting is one block copy.
struct Surface {
  HBITMAP bitmap = nullptr;
  HDC context = nullptr;
  Pixel32* pixels = nullptr;  // we don't own it: the bitmap does
};

struct ShellWindows {
  HWND MainWindow = nullptr;
  HWND RedButton = nullptr;
  HWND GreenButton = nullptr;
  HWND BlueButton = nullptr;
  HWND ContrastSlider = nullptr;
  HWND OffsetSlider = nullptr;
  HWND SaveAsButton = nullptr;
  HWND OpenButton = nullptr;
  HWND AutoAdjustButton = nullptr;
  HWND ChannelGroup = nullptr;
  HWND AdjustmentsGroup = nullptr;
  HWND CompositeFrame = nullptr;
  HWND MatteFrame = nullptr;
  HWND ContrastLabel = nullptr;
  HWND OffsetLabel = nullptr;
};

inline constexpr std::size_t WindowCount = 15;

// The main window first, then the controls: the order shutdown destroys them.
inline std::array<HWND, WindowCount> windowsInTableOrder(const ShellWindows& w) {
  return {w.MainWindow,       w.RedButton,      w.GreenButton,  w.BlueButton,
          w.ContrastSlider,   w.OffsetSlider,   w.SaveAsButton, w.OpenButton,
          w.AutoAdjustButton, w.ChannelGroup,   w.AdjustmentsGroup,
          w.CompositeFrame,   w.MatteFrame,     w.ContrastLabel, w.OffsetLabel};
}

}  // namespace Kvl::App

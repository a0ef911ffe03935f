#pragma once
// The shell's process-wide state: the fifteen windows, the three settings
// the engine reads, the two preview surfaces, the two buffers lent to the
// processor, and the processor itself. One instance, touched only by the
// GUI thread; it lives in ShellState.cpp.

#include <windows.h>

#include <cstdint>

#include "ShellWindows.h"
#include "engine/KeyProcessor.h"
#include "keying/KeySettings.h"
#include "engine/ShellPort.h"

namespace Kvl::App {

struct ShellState {
  ShellWindows windows;
  KeySettings settings;  // the current channel, Contrast and Offset
  Surface CompositeSurface;
  Surface MatteSurface;
  std::uint8_t* CheckerBuffer = nullptr;
  Pixel32* SourcePreview = nullptr;
  KeyProcessor* processor = nullptr;
  // Renders the shell asked for itself (start-up, commands, slider
  // messages), not the engine's own inside Open and Auto adjust. Kept for
  // the app tests alone: the previews cannot tell one render from two.
  unsigned renderCount = 0;
};

ShellState& shell();

}  // namespace Kvl::App

#pragma once
// The shell's process-wide state: the fifteen windows, the three settings
// the engine reads, the two preview surfaces, the two buffers lent to the
// processor, and the processor itself. One instance, touched only by the
// GUI thread; it lives in ShellState.cpp.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "ShellWindows.h"
#include "engine/KeyProcessor.h"
#include "engine/KeySettings.h"
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
};

// Where the shell meets things a test must stand in for: the two file
// dialogs and the error box (each empty: the real one), and resources that
// start-up may fail to get. The program itself never sets them.
struct ShellSeams {
  std::function<std::string(const char* initialFolder)> openDialog;
  std::function<std::string()> saveDialog;
  std::function<void(const char* text, const char* caption)> errorBox;
  bool refuseSurfaces = false;
  bool refuseBuffers = false;
  unsigned renderCount = 0;  // renders the shell itself asked for
};

ShellState& shell();
ShellSeams& seams();
// The real control messages behind the engine's seam.
ShellPort& shellPort();

}  // namespace Kvl::App

#include "Application.h"

#include <windows.h>
#include <commctrl.h>

#include <new>

#include "MainWindow.h"
#include "ShellSeams.h"
#include "ShellState.h"
#include "Surfaces.h"
#include "WindowProc.h"
#include "engine/ChannelControls.h"

namespace Kvl::App {
namespace {

// The controls, in creation order, with Green selected as soon as its
// button exists and the sliders' common controls initialised just before.
void createControlsAndSelectGreen() {
  ShellState& state = shell();
  createFramesAndChannelButtons();
  // The processor does not exist yet, so this renders nothing.
  selectChannel(GreenChannel, state.settings, shellPort(), state.processor);
  createAdjustmentsGroup();
  InitCommonControls();
  createSliders();
  state.settings.offset = 0;
  createLabelsAndPushButtons();
  setDefaultGuiFont();
}

// Surfaces, buffers, the processor that borrows them, and the first render.
bool createPreviewPipeline() {
  ShellState& state = shell();
  if (!createSurfaces() || !allocateBuffers()) return false;
  fillBuffersAndSurfaces();
  state.processor = new (std::nothrow) KeyProcessor(state.CheckerBuffer, state.SourcePreview,
                                                    state.CompositeSurface.pixels,
                                                    state.MatteSurface.pixels, &shellPort());
  if (state.processor == nullptr) return false;
  renderPreviews();  // overwrites the grey fill before anything is painted
  return true;
}

}  // namespace

bool Application::initialise() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  registerWindowClass(instance);
  createMainWindow(instance);
  // Without a main window the user could never end the message loop.
  if (shell().windows.MainWindow == nullptr) return false;
  createControlsAndSelectGreen();
  return createPreviewPipeline();
}

void Application::shutdown() {
  ShellState& state = shell();
  // Normally every window is gone already. If the loop ended while they
  // stand, the main window goes first and takes its children with it.
  for (HWND window : windowsInTableOrder(state.windows)) {
    if (window != nullptr && IsWindow(window)) DestroyWindow(window);
  }
  releaseSurfaces();
  freeBuffers();
  delete state.processor;  // releases the stored source path
  state.processor = nullptr;
}

int runMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL result = GetMessageA(&message, nullptr, 0, 0);
    if (result == 0 || result == -1) return result;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace Kvl::App

#include "WindowProc.h"

#include <exception>
#include <string>

#include "Controls.h"
#include "FileDialogs.h"
#include "ShellSeams.h"
#include "ShellState.h"
#include "engine/ChannelControls.h"

namespace Kvl::App {
namespace {

constexpr POINT CompositeOrigin = {4, 4};  // inside CompositeFrame
constexpr POINT MatteOrigin = {250, 4};    // inside MatteFrame

// The first checked button wins; with none checked the channel stays.
void readChannelFromButtons() {
  ShellState& state = shell();
  const ShellWindows& w = state.windows;
  if (isChecked(w.RedButton)) {
    state.settings.channel = RedChannel;
  } else if (isChecked(w.GreenButton)) {
    state.settings.channel = GreenChannel;
  } else if (isChecked(w.BlueButton)) {
    state.settings.channel = BlueChannel;
  }
}

// Load, select the detected channel, auto adjust. A file that cannot be
// read is ignored silently, but its path is kept for the next Save As.
void openCommand() {
  const std::string path = askOpenPath(OpenDialogInitialFolder);
  ShellState& state = shell();
  if (isCancelled(path) || state.processor == nullptr) return;
  openPicture(path.c_str(), state.settings, shellPort(), *state.processor);
}

// The processor shows its own box if the save fails.
void saveAsCommand() {
  const std::string path = askSavePath();
  ShellState& state = shell();
  if (isCancelled(path) || state.processor == nullptr) return;
  const KeySettings& s = state.settings;
  state.processor->saveKeyed(path.c_str(), s.channel, s.contrast, s.offset);
}

void actOnSender(HWND sender) {
  ShellState& state = shell();
  const ShellWindows& w = state.windows;
  if (sender == w.OpenButton) {
    openCommand();
  } else if (sender == w.SaveAsButton) {
    saveAsCommand();
  } else if (sender == w.AutoAdjustButton) {
    autoAdjust(state.settings, shellPort(), state.processor);
  }
  // The radio buttons need nothing more: the channel is already read.
}

// No erase: the new previews go straight over the old, with no blank frame.
void invalidateMainWindow() { InvalidateRect(shell().windows.MainWindow, nullptr, FALSE); }

// Code 0 is a click on a push button or a radio button; every other
// notification is ignored.
LRESULT onCommand(WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) != 0) return 0;
  readChannelFromButtons();
  try {
    actOnSender(reinterpret_cast<HWND>(lParam));
  } catch (const std::exception&) {
    // Out of memory inside a command: it ends there. Nothing may unwind
    // through the system's frames above this procedure.
  }
  invalidateMainWindow();
  renderPreviews();
  return 0;
}

// per https://learn.microsoft.com/windows/win32/controls/wm-hscroll--trackbar-
// Every message, whatever its scroll code and whichever slider sent it,
// re-reads both sliders. The checkerboard moves after the render, so the
// shift shows from the next render on.
LRESULT onHScroll() {
  ShellState& state = shell();
  state.settings.contrast = sliderPosition(state.windows.ContrastSlider);
  state.settings.offset = sliderPosition(state.windows.OffsetSlider);
  invalidateMainWindow();
  renderPreviews();
  if (state.CheckerBuffer != nullptr) KeyProcessor::scrollCheckerboard(state.CheckerBuffer);
  return 0;
}

LRESULT onPaint() {
  paintPreviews();
  return 0;
}

void copySurface(HDC target, POINT origin, const Surface& surface) {
  BitBlt(target, origin.x, origin.y, PreviewWidth, PreviewHeight, surface.context, 0, 0, SRCCOPY);
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_PAINT: return onPaint();
    case WM_COMMAND: return onCommand(wParam, lParam);
    case WM_HSCROLL: return onHScroll();
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

void renderPreviews() {
  ShellState& state = shell();
  if (state.processor == nullptr) return;
  const KeySettings& s = state.settings;
  state.processor->render(s.channel, s.contrast, s.offset);
  ++state.renderCount;
}

// The update region is not consulted: both previews are copied whole.
void paintPreviews() {
  const ShellState& state = shell();
  PAINTSTRUCT paint;
  HDC target = BeginPaint(state.windows.MainWindow, &paint);
  copySurface(target, CompositeOrigin, state.CompositeSurface);
  copySurface(target, MatteOrigin, state.MatteSurface);
  EndPaint(state.windows.MainWindow, &paint);
}

}  // namespace Kvl::App

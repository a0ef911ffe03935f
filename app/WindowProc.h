#pragma once
// The main window's procedure: where clicks and slider movements become
// engine calls, and where the previews are painted.

#include <windows.h>

namespace Kvl::App {

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Renders both previews with the current settings, if the processor exists.
void renderPreviews();
// Copies both surfaces, whole, to the main window.
void paintPreviews();

}  // namespace Kvl::App

#pragma once
// Where the shell reaches the file dialogs, the error box and the memory
// start-up needs. The program links ShellSeams.cpp, which goes straight to
// the real thing; the app tests link their own definitions instead, so they
// can answer a dialog, record an error box or refuse a surface, and the
// program carries no switch for any of that.

#include <windows.h>

#include <string>

#include "keying/Pixel.h"
#include "engine/ShellPort.h"

namespace Kvl::App {

// The path the user chose, or CancelledResult.
std::string askOpenPath(const char* initialFolder);
std::string askSavePath();

// The engine's seam on the real controls and the real error box.
ShellPort& shellPort();

// A preview surface's DIB section; null when it cannot be had.
HBITMAP createPreviewBitmap(HDC context, const BITMAPINFO& info, void** bits);
// The zero-filled preview source; null when memory is short. Freed with delete[].
Pixel32* allocatePreviewSource();

}  // namespace Kvl::App

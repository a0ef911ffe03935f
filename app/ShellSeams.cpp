// The program's side of ShellSeams.h: each seam is the real thing and
// nothing more, so what the tests replace is only this file.

#include "ShellSeams.h"

#include <new>

#include "FileDialogs.h"
#include "Win32ShellPort.h"

namespace Kvl::App {

std::string askOpenPath(const char* initialFolder) { return chooseOpenPath(initialFolder); }

std::string askSavePath() { return chooseSavePath(); }

namespace {

Win32ShellPort Port;  // one per process, GUI thread only

}  // namespace

ShellPort& shellPort() { return Port; }

HBITMAP createPreviewBitmap(HDC context, const BITMAPINFO& info, void** bits) {
  return CreateDIBSection(context, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

Pixel32* allocatePreviewSource() { return new (std::nothrow) Pixel32[PreviewPixelCount](); }

}  // namespace Kvl::App

#include "FileDialogs.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <new>
#include <vector>

namespace Kvl::App {
namespace {

// Each filter is one description and one pattern, ended by an empty string
// (the literal's own terminating zero makes the second zero).
constexpr char OpenFilter[] = "All Supported Files (*.tga; *.bmp)\0*.tga;*.bmp\0";
constexpr char SaveFilter[] = "Truevision Targa (*.tga)\0*.tga\0";
constexpr DWORD FileBufferSize = 65536;

#if defined(__i386__)
// The 32-bit release hands the dialog the 76-byte version-4 layout.
static_assert(offsetof(OPENFILENAMEA, pvReserved) == 76);
#endif

using ShowDialog = BOOL(WINAPI*)(LPOPENFILENAMEA);

// No owner: the main window stays enabled while a dialog is open. The size
// is the version-4 layout's for this build (76 bytes on i686), so the
// x86_64 build is not refused outright.
OPENFILENAMEA describeDialog(const char* filter, char* fileBuffer, DWORD flags) {
  OPENFILENAMEA dialog{};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.hwndOwner = nullptr;
  dialog.lpstrFilter = filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = fileBuffer;  // all zero: no name is proposed
  dialog.nMaxFile = FileBufferSize;
  dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | flags;
  return dialog;
}

std::string runDialog(OPENFILENAMEA& dialog, std::vector<char>& fileBuffer, ShowDialog show) {
  if (show(&dialog) == FALSE) return CancelledResult;
  return std::string(fileBuffer.data());
}

}  // namespace

std::string chooseOpenPath(const char* initialFolder) {
  try {
    std::vector<char> fileBuffer(FileBufferSize, '\0');
    // No OFN_FILEMUSTEXIST: a name of a missing file in an existing folder
    // is accepted, and the reader then ignores it.
    OPENFILENAMEA dialog = describeDialog(OpenFilter, fileBuffer.data(), 0);
    dialog.lpstrInitialDir = initialFolder;
    return runDialog(dialog, fileBuffer, GetOpenFileNameA);
  } catch (const std::bad_alloc&) {
    return CancelledResult;  // short enough to need no allocation
  }
}

std::string chooseSavePath() {
  try {
    std::vector<char> fileBuffer(FileBufferSize, '\0');
    OPENFILENAMEA dialog = describeDialog(SaveFilter, fileBuffer.data(), OFN_OVERWRITEPROMPT);
    dialog.lpstrDefExt = "tga";
    return runDialog(dialog, fileBuffer, GetSaveFileNameA);
  } catch (const std::bad_alloc&) {
    return CancelledResult;
  }
}

bool isCancelled(const std::string& result) { return result == CancelledResult; }

}  // namespace Kvl::App

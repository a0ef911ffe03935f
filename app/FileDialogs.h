#pragma once
// The open and save dialogs. Each returns the full path the user chose, or
// the literal "cancel" when no path was chosen (a cancel, or a failure such
// as a path too long for the buffer).

#include <string>

namespace Kvl::App {

inline constexpr const char* CancelledResult = "cancel";

// The root of the current drive. A single backslash, not "/": Wine's file
// dialog takes "/" as a folder name and crashes as soon as it opens.
inline constexpr const char* OpenDialogInitialFolder = "\\";

std::string chooseOpenPath(const char* initialFolder);
// Appends ".tga" to a name typed without an extension, and asks before an
// existing file is chosen.
std::string chooseSavePath();

// Only the exact text "cancel" counts: a longer text that begins with it is
// a path, and a chosen path is always a full path.
bool isCancelled(const std::string& result);

}  // namespace Kvl::App

#pragma once
// The window class, the fixed-size main window and its fourteen controls.

#include <windows.h>

#include <string>

namespace Kvl::App {

inline constexpr const char* WindowClassName = "kvl_window";
inline constexpr int MainWindowWidth = 501;   // outer size, frame and title bar included
inline constexpr int MainWindowHeight = 286;

// "Keyvale " and the project's version.
std::string windowTitle();

void registerWindowClass(HINSTANCE instance);
// Creates and shows the main window, centred on the primary screen.
void createMainWindow(HINSTANCE instance);

// The controls, in creation order; each creates some of them and stores
// their handles in the shell state.
void createFramesAndChannelButtons();  // the two frames, "Channel" and Red, Green, Blue
void createAdjustmentsGroup();
// Both sliders with range 0..255 at position 0. The common controls must
// be initialised first.
void createSliders();
void createLabelsAndPushButtons();
// The stock GUI font for the buttons, groups and labels; the sliders and
// frames keep the system font.
void setDefaultGuiFont();

}  // namespace Kvl::App

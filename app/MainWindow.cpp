#include "MainWindow.h"

#include <commctrl.h>

#include <span>

#include "Controls.h"
#include "Version.h"
#include "ShellState.h"
#include "WindowProc.h"

namespace Kvl::App {
namespace {

// One child control: where its handle goes and how it is made.
struct ControlLayout {
  HWND ShellWindows::*handle;
  const char* className;
  const char* text;
  DWORD style;
  int x, y, width, height;
};

// The frames keep their text ("Red"), which a frame style never shows.
constexpr DWORD FrameStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_SUNKEN | SS_WHITEFRAME;  // 0x50011009
constexpr DWORD GroupStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_GROUPBOX;                // 0x50010007
// No WS_GROUP anywhere: the three radio buttons form one exclusive set.
constexpr DWORD RadioStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON;         // 0x50010009
constexpr DWORD SliderStyle = WS_CHILD | WS_VISIBLE;  // 0x50000000: horizontal, ticks below
constexpr DWORD LabelStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_LEFT;                    // 0x50010000
constexpr DWORD PushStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;               // 0x50010000

constexpr ControlLayout FramesAndChannelButtons[] = {
    {&ShellWindows::CompositeFrame, "STATIC", "Red", FrameStyle, 2, 2, 244, 164},
    {&ShellWindows::MatteFrame, "STATIC", "Red", FrameStyle, 248, 2, 244, 164},
    {&ShellWindows::ChannelGroup, "BUTTON", "Channel", GroupStyle, 2, 168, 60, 92},
    {&ShellWindows::RedButton, "BUTTON", "Red", RadioStyle, 6, 185, 40, 16},
    {&ShellWindows::GreenButton, "BUTTON", "Green", RadioStyle, 6, 210, 50, 16},
    {&ShellWindows::BlueButton, "BUTTON", "Blue", RadioStyle, 6, 235, 40, 16},
};
constexpr ControlLayout AdjustmentsGroup = {&ShellWindows::AdjustmentsGroup, "BUTTON", "Adjustments",
                                          GroupStyle, 64, 168, 350, 70};
constexpr ControlLayout Sliders[] = {
    {&ShellWindows::ContrastSlider, TRACKBAR_CLASSA, "Trackbar Control", SliderStyle, 135, 183, 275, 23},
    {&ShellWindows::OffsetSlider, TRACKBAR_CLASSA, "Trackbar Control", SliderStyle, 135, 208, 275, 23},
};
// Top to bottom the push buttons read Open, Auto adjust, Save As.
constexpr ControlLayout LabelsAndPushButtons[] = {
    {&ShellWindows::ContrastLabel, "STATIC", "Contrast", LabelStyle, 68, 186, 65, 23},
    {&ShellWindows::OffsetLabel, "STATIC", "Offset", LabelStyle, 68, 211, 65, 23},
    {&ShellWindows::SaveAsButton, "BUTTON", "Save As", PushStyle, 417, 237, 75, 23},
    {&ShellWindows::OpenButton, "BUTTON", "Open", PushStyle, 417, 174, 75, 23},
    {&ShellWindows::AutoAdjustButton, "BUTTON", "Auto adjust", PushStyle, 417, 199, 75, 23},
};

// Every control has identifier 0: commands are told apart by handle.
void createControl(const ControlLayout& layout) {
  ShellWindows& windows = shell().windows;
  const auto instance =
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(windows.MainWindow, GWLP_HINSTANCE));
  windows.*layout.handle =
      CreateWindowExA(0, layout.className, layout.text, layout.style, layout.x, layout.y, layout.width,
                      layout.height, windows.MainWindow, nullptr, instance, nullptr);
}

void createControls(std::span<const ControlLayout> layouts) {
  for (const ControlLayout& layout : layouts) createControl(layout);
}

}  // namespace

void registerWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // 5 is read as system colour index 4 plus one: the menu colour.
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
  windowClass.lpszClassName = WindowClassName;
  RegisterClassA(&windowClass);  // a second registration fails harmlessly
}

std::string windowTitle() { return std::string("Keyvale ") + KeyvaleVersion; }

void createMainWindow(HINSTANCE instance) {
  // Centred by halves truncated toward zero, never clamped: on a screen
  // narrower than the window its left edge is negative.
  const int left = GetSystemMetrics(SM_CXSCREEN) / 2 - 250;
  const int top = GetSystemMetrics(SM_CYSCREEN) / 2 - 155;
  // An overlapped window gets a title bar and a fixed border; without
  // WS_THICKFRAME and WS_MAXIMIZEBOX it can be minimised but not resized.
  HWND window = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, WindowClassName, windowTitle().c_str(),
                                WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX, left, top, MainWindowWidth,
                                MainWindowHeight, nullptr, nullptr, instance, nullptr);
  shell().windows.MainWindow = window;
  ShowWindow(window, SW_SHOW);
}

void createFramesAndChannelButtons() { createControls(FramesAndChannelButtons); }

void createAdjustmentsGroup() { createControl(AdjustmentsGroup); }

void createSliders() {
  for (const ControlLayout& layout : Sliders) {
    createControl(layout);
    HWND slider = shell().windows.*layout.handle;
    setSliderRange(slider, 0, 255);
    setSliderPosition(slider, 0, true);
  }
}

void createLabelsAndPushButtons() { createControls(LabelsAndPushButtons); }

void setDefaultGuiFont() {
  const ShellWindows& w = shell().windows;
  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);  // stock: never deleted
  for (HWND control : {w.RedButton, w.GreenButton, w.BlueButton, w.SaveAsButton, w.OpenButton,
                       w.AutoAdjustButton, w.ChannelGroup, w.AdjustmentsGroup, w.ContrastLabel,
                       w.OffsetLabel}) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

}  // namespace Kvl::App

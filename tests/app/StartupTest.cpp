// Start-up and shutdown: the window and its controls as the user first sees
// them, and the release of everything at the end, including a start-up
// that cannot get what it needs.

#include "ShellFixture.h"

#include <commctrl.h>

#include <string>
#include "Version.h"
#include "app/Entry.h"

namespace Kvl::App::Test {
namespace {

TEST_F(ShellTest, StartsOnGreenWithBothSlidersAtZeroAfterExactlyOneRender) {
  EXPECT_EQ(radioStates(windows()), (std::vector<bool>{false, true, false}));
  for (HWND slider : {windows().ContrastSlider, windows().OffsetSlider}) {
    EXPECT_EQ(sliderPosition(slider), 0);
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 255);
  }
  EXPECT_EQ(settings().channel, GreenChannel);
  EXPECT_EQ(settings().contrast, 0);
  EXPECT_EQ(settings().offset, 0);
  EXPECT_EQ(TestAccess::renderCount(), 1u);
  // Before any Open the preview source is black, not whatever memory held.
  const Pixel32* source = TestAccess::sourcePreview();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(std::count(source, source + PreviewPixelCount, Pixel32{0}), PreviewPixelCount);
  EXPECT_TRUE(surfacesShow(expectedPreviews()));
}

TEST_F(ShellTest, MainWindowIsCentredFixedSizeAndCannotBeResizedOrMaximised) {
  HWND main = windows().MainWindow;
  RECT frame;
  ASSERT_TRUE(GetWindowRect(main, &frame));
  EXPECT_EQ(frame.right - frame.left, 501);
  EXPECT_EQ(frame.bottom - frame.top, 286);
  EXPECT_EQ(frame.left, GetSystemMetrics(SM_CXSCREEN) / 2 - 250);
  EXPECT_EQ(frame.top, GetSystemMetrics(SM_CYSCREEN) / 2 - 155);

  const auto style = static_cast<DWORD>(GetWindowLongA(main, GWL_STYLE));
  EXPECT_EQ(style & (WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            DWORD{WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX});
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
  const auto extended = static_cast<DWORD>(GetWindowLongA(main, GWL_EXSTYLE));
  EXPECT_EQ(extended & (WS_EX_APPWINDOW | WS_EX_WINDOWEDGE), DWORD{WS_EX_APPWINDOW | WS_EX_WINDOWEDGE});

  char text[64] = {};
  GetWindowTextA(main, text, sizeof text);
  EXPECT_EQ(std::string(text), std::string("Keyvale ") + KeyvaleVersion);
  GetClassNameA(main, text, sizeof text);
  EXPECT_STREQ(text, "kvl_window");
  // The menu colour (index 4, plus one), not the window colour.
  EXPECT_EQ(GetClassLongPtrA(main, GCLP_HBRBACKGROUND), 5);
}

struct ControlLayout {
  HWND ShellWindows::*handle;
  const char* className;
  const char* text;
  DWORD style;  // WS_TABSTOP aside: radio buttons move it to the checked one
  RECT place;   // left, top, right, bottom in the main window's client area
  bool guiFont;
};

// Catches a misplaced or swapped control; the push buttons in particular
// read Open, Auto adjust, Save As from top to bottom.
TEST_F(ShellTest, ControlsStandWhereTheyBelongWithTheirClassesTextsAndFonts) {
  const ControlLayout layout[] = {
      {&ShellWindows::CompositeFrame, "Static", "Red", 0x50001009, {2, 2, 246, 166}, false},
      {&ShellWindows::MatteFrame, "Static", "Red", 0x50001009, {248, 2, 492, 166}, false},
      {&ShellWindows::ChannelGroup, "Button", "Channel", 0x50000007, {2, 168, 62, 260}, true},
      {&ShellWindows::RedButton, "Button", "Red", 0x50000009, {6, 185, 46, 201}, true},
      {&ShellWindows::GreenButton, "Button", "Green", 0x50000009, {6, 210, 56, 226}, true},
      {&ShellWindows::BlueButton, "Button", "Blue", 0x50000009, {6, 235, 46, 251}, true},
      {&ShellWindows::AdjustmentsGroup, "Button", "Adjustments", 0x50000007, {64, 168, 414, 238}, true},
      {&ShellWindows::ContrastSlider, "msctls_trackbar32", "Trackbar Control", 0x50000000, {135, 183, 410, 206}, false},
      {&ShellWindows::OffsetSlider, "msctls_trackbar32", "Trackbar Control", 0x50000000, {135, 208, 410, 231}, false},
      {&ShellWindows::ContrastLabel, "Static", "Contrast", 0x50000000, {68, 186, 133, 209}, true},
      {&ShellWindows::OffsetLabel, "Static", "Offset", 0x50000000, {68, 211, 133, 234}, true},
      {&ShellWindows::OpenButton, "Button", "Open", 0x50000000, {417, 174, 492, 197}, true},
      {&ShellWindows::AutoAdjustButton, "Button", "Auto adjust", 0x50000000, {417, 199, 492, 222}, true},
      {&ShellWindows::SaveAsButton, "Button", "Save As", 0x50000000, {417, 237, 492, 260}, true},
  };
  const auto guiFont = reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT));
  for (const ControlLayout& control : layout) {
    HWND window = windows().*control.handle;
    SCOPED_TRACE(control.text);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(GetParent(window), windows().MainWindow);
    EXPECT_EQ(GetDlgCtrlID(window), 0);
    char text[64] = {};
    GetClassNameA(window, text, sizeof text);
    EXPECT_STRCASEEQ(text, control.className);
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, control.text);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)) & ~DWORD{WS_TABSTOP}, control.style);
    RECT place;
    GetWindowRect(window, &place);
    MapWindowPoints(nullptr, windows().MainWindow, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, control.place.left);
    EXPECT_EQ(place.top, control.place.top);
    EXPECT_EQ(place.right, control.place.right);
    EXPECT_EQ(place.bottom, control.place.bottom);
    EXPECT_EQ(SendMessageA(window, WM_GETFONT, 0, 0) == guiFont, control.guiFont);
  }
}

// Paints `control` on white and counts the pixels it changed inside its
// outer two-pixel edge.
int innerPixelsPainted(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  HDC screen = GetDC(control);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  PatBlt(memory, 0, 0, client.right, client.bottom, WHITENESS);
  SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  int painted = 0;
  for (int y = 2; y < client.bottom - 2; ++y) {
    for (int x = 2; x < client.right - 2; ++x) painted += GetPixel(memory, x, y) != RGB(255, 255, 255);
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(control, screen);
  return painted;
}

TEST_F(ShellTest, FramesShowNoTextThoughTheyCarryOne) {
  EXPECT_EQ(innerPixelsPainted(windows().CompositeFrame), 0);
  EXPECT_EQ(innerPixelsPainted(windows().MatteFrame), 0);
  // The same text in a plain static control does show: the check can see it.
  HWND label = CreateWindowExA(0, "STATIC", "Red", WS_CHILD | SS_LEFT, 0, 0, 244, 164,
                               windows().MainWindow, nullptr, GetModuleHandleA(nullptr), nullptr);
  EXPECT_GT(innerPixelsPainted(label), 0);
  DestroyWindow(label);
}

TEST_F(ShellTest, ClosingTheWindowEndsTheLoopAndShutdownReleasesEverything) {
  const auto handles = windowsInTableOrder(windows());
  const Surface composite = TestAccess::compositeSurface();
  const Surface matte = TestAccess::matteSurface();
  ASSERT_EQ(GetObjectType(composite.bitmap), DWORD{OBJ_BITMAP});
  ASSERT_EQ(GetObjectType(matte.context), DWORD{OBJ_MEMDC});

  SendMessageA(windows().MainWindow, WM_CLOSE, 0, 0);
  MSG quit;
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  for (HWND window : handles) EXPECT_FALSE(IsWindow(window));

  application.shutdown();
  for (HGDIOBJ object : {HGDIOBJ{composite.bitmap}, HGDIOBJ{composite.context},
                         HGDIOBJ{matte.bitmap}, HGDIOBJ{matte.context}}) {
    EXPECT_EQ(GetObjectType(object), 0u) << "still alive: " << object;
  }
  EXPECT_EQ(TestAccess::checkerBuffer(), nullptr);
  EXPECT_EQ(TestAccess::sourcePreview(), nullptr);
  EXPECT_EQ(TestAccess::processor(), nullptr);
}

// The whole program through its entry point, on this thread's queue.
class EntryTest : public ::testing::Test {
protected:
  void SetUp() override { TestAccess::resetToProcessStart(); }
  void TearDown() override {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    }
    TestAccess::resetToProcessStart();
  }

  void expectNothingLeft() {
    EXPECT_EQ(FindWindowA("kvl_window", nullptr), nullptr);
    EXPECT_EQ(TestAccess::compositeSurface().bitmap, nullptr);
    EXPECT_EQ(TestAccess::matteSurface().context, nullptr);
    EXPECT_EQ(TestAccess::checkerBuffer(), nullptr);
    EXPECT_EQ(TestAccess::sourcePreview(), nullptr);
    EXPECT_EQ(TestAccess::processor(), nullptr);
  }

  // A message loop would take the marker; the quit keeps a wrong one from
  // running for ever.
  void expectStartUpFailsWithoutRunningTheLoop() {
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    PostQuitMessage(0);
    EXPECT_EQ(runApplication(), 0);
    MSG marker;
    EXPECT_TRUE(PeekMessageA(&marker, nullptr, WM_APP, WM_APP, PM_REMOVE)) << "the message loop ran";
    expectNothingLeft();
  }
};

TEST_F(EntryTest, LoopEndingWhileTheWindowsStandDestroysThemAndExitsWithZero) {
  PostQuitMessage(7);
  EXPECT_EQ(runApplication(), 0);
  expectNothingLeft();
}

TEST_F(EntryTest, StartUpWithoutSurfacesEndsCleanlyWithExitCodeZero) {
  TestAccess::refuseSurfaces(true);
  expectStartUpFailsWithoutRunningTheLoop();
}

TEST_F(EntryTest, StartUpWithoutBuffersEndsCleanlyWithExitCodeZero) {
  TestAccess::refuseBuffers(true);
  expectStartUpFailsWithoutRunningTheLoop();
}

}  // namespace
}  // namespace Kvl::App::Test

// The real file dialogs and the real error box, answered from a second
// thread while the test's thread runs the dialog's own message loop.

#include "ShellFixture.h"

#include <commdlg.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/FileDialogs.h"

namespace Kvl::App::Test {
namespace {

using Clock = std::chrono::steady_clock;

// The visible top-level dialog titled `title` and owned by `owner`, polled
// for until it shows or 30 seconds have passed.
HWND waitForDialog(const char* title, HWND owner = nullptr) {
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    for (HWND dialog = FindWindowExA(nullptr, nullptr, "#32770", title); dialog != nullptr;
         dialog = FindWindowExA(nullptr, dialog, "#32770", title)) {
      if (IsWindowVisible(dialog) && GetWindow(dialog, GW_OWNER) == owner) return dialog;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

std::string textOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK findEdit(HWND child, LPARAM found) {
  char name[16] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

// Types `name` into the file name box and presses the default button.
void typeFileName(HWND dialog, const std::string& name) {
  HWND edit = nullptr;
  EnumChildWindows(dialog, findEdit, reinterpret_cast<LPARAM>(&edit));
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

std::string folderShownBy(HWND dialog) {
  char folder[MAX_PATH] = {};
  SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof folder, reinterpret_cast<LPARAM>(folder));
  return folder;
}

constexpr int FileTypeList = 0x470;  // cmb1 in the explorer-style dialog

// What a dialog looked like, read while it was open.
struct Seen {
  bool appeared = false;
  bool ownerless = false;
  bool mainWindowEnabled = false;
  std::string fileTypes;
  std::string folder;
};

Seen inspect(HWND dialog, HWND mainWindow) {
  Seen seen;
  seen.appeared = dialog != nullptr;
  if (dialog == nullptr) return seen;
  seen.ownerless = GetWindow(dialog, GW_OWNER) == nullptr;
  seen.mainWindowEnabled = IsWindowEnabled(mainWindow) != FALSE;
  seen.fileTypes = textOf(GetDlgItem(dialog, FileTypeList));
  seen.folder = folderShownBy(dialog);
  return seen;
}

std::string currentDriveRoot() {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  return std::string(folder, 3);  // "Z:\"
}

// Regression: with "/" as its initial folder Wine's dialog crashed the
// program as soon as it opened.
TEST_F(ShellTest, RealOpenDialogStartsAtTheDriveRootAndLoadsTheTypedPath) {
  const std::string picture = writeBluePicture(dir, "blue.tga");
  HWND main = windows().MainWindow;
  Seen seen;
  std::thread user([&] {
    HWND dialog = waitForDialog("Open");
    seen = inspect(dialog, main);
    if (dialog != nullptr) typeFileName(dialog, picture);
  });
  click(windows().OpenButton);
  user.join();

  ASSERT_TRUE(seen.appeared);
  EXPECT_TRUE(seen.ownerless);
  EXPECT_TRUE(seen.mainWindowEnabled);
  EXPECT_EQ(seen.fileTypes, "All Supported Files (*.tga; *.bmp)");
  EXPECT_EQ(seen.folder, currentDriveRoot());
  EXPECT_EQ(TestAccess::processor()->sourcePath(), picture);
  EXPECT_EQ(settings().channel, BlueChannel);
}

TEST_F(ShellTest, RealSaveDialogAddsTheTgaExtensionToATypedName) {
  openThroughDialog(writeBluePicture(dir, "blue.tga"));
  HWND main = windows().MainWindow;
  Seen seen;
  std::thread user([&] {
    HWND dialog = waitForDialog("Save As");
    seen = inspect(dialog, main);
    if (dialog != nullptr) typeFileName(dialog, dir.file("keyed"));
  });
  click(windows().SaveAsButton);
  user.join();

  ASSERT_TRUE(seen.appeared);
  EXPECT_TRUE(seen.ownerless);
  EXPECT_EQ(seen.fileTypes, "Truevision Targa (*.tga)");
  EXPECT_TRUE(std::filesystem::exists(dir.file("keyed.tga")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("keyed")));
}

TEST_F(ShellTest, RealSaveDialogAsksBeforeChoosingAnExistingFile) {
  openThroughDialog(writeBluePicture(dir, "blue.tga"));
  const std::string existing = Kvl::Test::TgaBytes(1, 1).pixels({0}).writeTo(dir.file("old.tga"));
  const auto before = Kvl::Test::readFileBytes(existing);
  bool asked = false;
  std::thread user([&] {
    HWND dialog = waitForDialog("Save As");
    if (dialog == nullptr) return;
    typeFileName(dialog, existing);
    HWND question = waitForDialog(nullptr, dialog);
    asked = question != nullptr;
    if (asked) PostMessageA(question, WM_COMMAND, IDNO, 0);  // keep the old file
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  click(windows().SaveAsButton);
  user.join();

  EXPECT_TRUE(asked);
  EXPECT_EQ(Kvl::Test::readFileBytes(existing), before);
}

// Task-modal and ownerless: while the box is up the main window takes no
// clicks, and afterwards it does again.
TEST_F(ShellTest, RealSaveFailureBoxIsTaskModalAndSaysWhy) {
  openThroughDialog(dir.file("missing.tga"));
  TestAccess::replaceSaveDialog([&] { return dir.file("keyed.tga"); });
  HWND main = windows().MainWindow;
  Seen seen;
  std::string message;
  std::thread user([&] {
    HWND box = waitForDialog("Saving Failed");
    seen = inspect(box, main);
    if (box == nullptr) return;
    message = textOf(GetDlgItem(box, 0xFFFF));  // the box's text control
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  click(windows().SaveAsButton);
  user.join();

  ASSERT_TRUE(seen.appeared);
  EXPECT_TRUE(seen.ownerless);
  EXPECT_FALSE(seen.mainWindowEnabled);
  EXPECT_EQ(message, "Unable to save file.");
  EXPECT_TRUE(IsWindowEnabled(main));
}

}  // namespace
}  // namespace Kvl::App::Test

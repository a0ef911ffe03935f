#include "ShellFixture.h"

#include <commctrl.h>

#include <cstring>
#include <sstream>

#include "keying/KeySettings.h"
#include "engine/PreviewWorkspace.h"

namespace Kvl::App::Test {

Previews referenceRender(const Pixel32* source, const std::uint8_t* checkerboard, KeyChannel channel,
                         std::uint8_t contrast, std::uint8_t offset) {
  std::vector<std::uint8_t> checker(checkerboard, checkerboard + PreviewPixelCount);
  std::vector<Pixel32> sourceCopy(source, source + PreviewPixelCount);
  Previews out{std::vector<Pixel32>(PreviewPixelCount), std::vector<Pixel32>(PreviewPixelCount)};
  KeyProcessor processor(checker.data(), sourceCopy.data(), out.composite.data(), out.matte.data(),
                         nullptr);
  processor.render(channel, contrast, offset);
  return out;
}

KeySettings settingsAfterOpen(const std::string& path) {
  PreviewWorkspace workspace;
  workspace.processor().loadSource(path.c_str());
  return chooseSettings(workspace.previewSource(), SettingsRequest::automatic());
}

std::string writeBluePicture(const Kvl::Test::TempDir& dir, const std::string& name) {
  constexpr Pixel32 B = makePixel(0x20, 0x30, 0xE0);  // backdrop
  constexpr Pixel32 S = makePixel(0x90, 0x80, 0x70);  // subject
  constexpr Pixel32 E = makePixel(0x50, 0x60, 0x98);  // edges, partly keyed
  constexpr Pixel32 F = makePixel(0x70, 0x68, 0x88);
  return Kvl::Test::TgaBytes(6, 5)
      .pixels({B, B, B, B, B, B,
               B, E, S, S, F, B,
               B, E, S, S, S, E,
               B, B, F, E, F, B,
               B, B, B, B, B, B})
      .writeTo(dir.file(name));
}

::testing::AssertionResult samePixels(const Pixel32* actual, const std::vector<Pixel32>& expected,
                                      Pixel32 mask) {
  for (int i = 0; i < PreviewPixelCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    if ((actual[index] & mask) == (expected[index] & mask)) continue;
    std::ostringstream where;
    where << std::hex << "at x " << std::dec << i % PreviewWidth << ", y "
          << PreviewHeight - 1 - i / PreviewWidth << std::hex << ": 0x" << (actual[index] & mask)
          << " where 0x" << (expected[index] & mask) << " was expected";
    return ::testing::AssertionFailure() << where.str();
  }
  return ::testing::AssertionSuccess();
}

void ShellTest::SetUp() {
  TestAccess::resetToProcessStart();
  ASSERT_TRUE(application.initialise());
}

// Whatever the test left behind: a second shutdown finds nothing to
// release. The quit message from the main window's destruction is taken
// off the queue, or it would end the next test's nested dialog loops.
void ShellTest::TearDown() {
  application.shutdown();
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
  }
  TestAccess::resetToProcessStart();
}

void ShellTest::click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

void ShellTest::command(HWND sender, WORD notification) {
  SendMessageA(windows().MainWindow, WM_COMMAND, MAKEWPARAM(0, notification),
               reinterpret_cast<LPARAM>(sender));
}

void ShellTest::openThroughDialog(const std::string& path) {
  TestAccess::replaceOpenDialog([path](const char*) { return path; });
  click(windows().OpenButton);
}

Previews ShellTest::expectedPreviews() const {
  const KeySettings& s = settings();
  return referenceRender(TestAccess::sourcePreview(), TestAccess::checkerBuffer(), s.channel,
                         s.contrast, s.offset);
}

::testing::AssertionResult ShellTest::surfacesShow(const Previews& expected) const {
  auto composite = samePixels(TestAccess::compositeSurface().pixels, expected.composite);
  if (!composite) return ::testing::AssertionFailure() << "composite " << composite.message();
  auto matte = samePixels(TestAccess::matteSurface().pixels, expected.matte);
  if (!matte) return ::testing::AssertionFailure() << "matte " << matte.message();
  return ::testing::AssertionSuccess();
}

std::vector<bool> radioStates(const ShellWindows& w) {
  std::vector<bool> states;
  for (HWND button : {w.RedButton, w.GreenButton, w.BlueButton}) {
    states.push_back(SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED);
  }
  return states;
}

int sliderPosition(HWND slider) { return static_cast<int>(SendMessageA(slider, TBM_GETPOS, 0, 0)); }

}  // namespace Kvl::App::Test

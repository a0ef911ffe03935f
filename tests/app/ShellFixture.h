#pragma once
// A started shell for each test: real windows and controls on the test's
// thread, with the file dialogs and the error box replaced where a test
// says so. Expected previews come from the engine itself, run on buffers of
// the test's own, so a test checks what the shell asked the engine for.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/Application.h"
#include "ShellTestAccess.h"
#include "support/TgaBytes.h"

namespace Kvl::App::Test {

struct Previews {
  std::vector<Pixel32> composite;
  std::vector<Pixel32> matte;
};

// What one render of `source` over `checkerboard` gives.
Previews referenceRender(const Pixel32* source, const std::uint8_t* checkerboard, KeyChannel channel,
                         std::uint8_t contrast, std::uint8_t offset);
// The settings an Open of `path` arrives at from a zero preview.
KeySettings settingsAfterOpen(const std::string& path);

// 6 x 5 on a blue backdrop, with a grey subject and partly keyed edge
// pixels, so detection moves the radio buttons off Green and auto adjust
// finds nonzero values.
std::string writeBluePicture(const Kvl::Test::TempDir& dir, const std::string& name);

// Equal pixel for pixel in the bits of `mask`; a mismatch names x and the
// screen row y (the surfaces are bottom-up) with both values.
::testing::AssertionResult samePixels(const Pixel32* actual, const std::vector<Pixel32>& expected,
                                      Pixel32 mask = 0xFFFFFFFFu);

class ShellTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  const ShellWindows& windows() const { return TestAccess::windows(); }
  const KeySettings& settings() const { return TestAccess::settings(); }

  // A click as the user makes it: the button checks itself if it is a
  // radio button, then notifies the main window.
  void click(HWND button);
  // A WM_COMMAND from `sender` with the given notification code.
  void command(HWND sender, WORD notification);
  // Opens `path` through the Open button, the dialog answering `path`.
  void openThroughDialog(const std::string& path);
  // The previews the shell's current settings give over its checkerboard.
  Previews expectedPreviews() const;
  // Whether both surfaces hold exactly `expected`.
  ::testing::AssertionResult surfacesShow(const Previews& expected) const;

  Application application;
  Kvl::Test::TempDir dir;
};

// Checked state of the three radio buttons, Red, Green, Blue.
std::vector<bool> radioStates(const ShellWindows& windows);
int sliderPosition(HWND slider);

}  // namespace Kvl::App::Test
